// Any bytes as the text of TextTerminal, through the whole preparation: line check, scan,
// fill and placement.  Checks what must hold whatever the text: the image is untouched or
// exactly 40,000,000 characters, every record the text places is where its address says,
// and the preparation flag is cleared again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "Convert.h"
#include "FlashImage.h"
#include "GaugeModel.h"
#include "HexSum.h"
#include "QuietHost.h"

namespace {

class TFuzzHost : public TQuietHost {
public:
    int Messages = 0;

    void ShowMessage(const std::string&) override { ++Messages; }
};

[[noreturn]] void Broken(const char* what) {
    __builtin_printf("invariant broken: %s\n", what);
    std::abort();
}

// A plain reading of the placement rules: byte address -> its two characters.
std::map<std::int64_t, std::string> ExpectedBytes(const TTextArea& text) {
    std::map<std::int64_t, std::string> bytes;
    std::int64_t base = 0;
    for (std::size_t i = 0; i < text.LineCount(); ++i) {
        const std::string_view line = text.Line(i);
        if (line.size() < 9 || line[0] != ':') {
            continue;
        }
        if (line[8] == '1') {
            break;
        }
        if (line[8] == '2' || line[8] == '4') {
            base = static_cast<std::int64_t>(HexFieldToInt(line.substr(9, 4))) *
                   (line[8] == '2' ? 16 : 65536);
        } else if (line[8] == '0') {
            const std::int64_t n = HexFieldToInt(line.substr(1, 2));
            const std::int64_t a = HexFieldToInt(line.substr(3, 4));
            for (std::int64_t k = 0; k < n; ++k) {
                bytes[base + a + k] = std::string(line.substr(9 + 2 * k, 2));
            }
        }
    }
    return bytes;
}

TProgramState State; // kept across inputs, as the window keeps it across opened files

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TFuzzHost host;
    host.Terminal.SetText(std::string(reinterpret_cast<const char*>(data), size));
    const TImageText before = State.FlashImage; // shares its pages: a cheap copy
    bool built = false;
    try {
        built = PrepareFlashImage(host, State);
    } catch (const EConvertError&) {
    } catch (const EGaugeRange&) {
    }
    if (State.PreparationRunning) {
        Broken("PreparationRunning left set");
    }
    if (!built && !(State.FlashImage == before)) {
        Broken("a refused text changed the image");
    }
    if (built && State.FlashImage.size() != FlashImageChars) {
        Broken("image built with the wrong size");
    }
    if (built) {
        if (host.Messages != 0) {
            Broken("message on success");
        }
        const auto expected = ExpectedBytes(host.Terminal);
        if (expected.empty()) {
            Broken("built from a text that places no data");
        }
        for (const auto& [address, chars] : expected) {
            if (State.FlashImage.compare(static_cast<std::size_t>(2 * address), 2, chars) != 0) {
                Broken("byte not where its record puts it");
            }
        }
    }
    return 0;
}
