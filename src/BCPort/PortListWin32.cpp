// ListSerialPorts on Windows: the values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, whose data
// are the port names the serial drivers registered.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <vector>

#include "ComMessages.h"
#include "PortList.h"

namespace {

// Closes the key on every way out of ListSerialPorts.
class TKeyCloser {
public:
    explicit TKeyCloser(HKEY key) : Key(key) {}
    ~TKeyCloser() { ::RegCloseKey(Key); }
    TKeyCloser(const TKeyCloser&) = delete;
    TKeyCloser& operator=(const TKeyCloser&) = delete;

private:
    HKEY Key;
};

// Text order ignoring case, by the rules of the user's locale: COM1, COM10, COM2.
bool TextLess(const std::string& a, const std::string& b) {
    return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                            static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_LESS_THAN;
}

} // namespace

void ListSerialPorts(std::vector<std::string>& list) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        throw EComPort(15);
    }
    const TKeyCloser closer(key);
    std::vector<std::string> found;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG result =
            ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            throw EComPort(15);
        }
        // The stored text carries its terminating NUL; the name ends at the first one.
        const char* text = reinterpret_cast<const char*>(data);
        found.emplace_back(text, std::find(text, text + dataSize, '\0'));
    }
    std::stable_sort(found.begin(), found.end(), TextLess);
    list.swap(found);
}
