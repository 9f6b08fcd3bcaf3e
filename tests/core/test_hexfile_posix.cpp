// A firmware file named by the user that is no file: refused at once, with what it is,
// before anything is read and without waiting for a writer.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

#include "FakeHost.h"
#include "FlashImage.h"

namespace fs = std::filesystem;

namespace {

class HexFileKinds : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hexfile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Dir = pattern;
    }
    void TearDown() override {
        if (Socket >= 0) {
            ::close(Socket);
        }
        fs::remove_all(Dir);
    }

    // A listening socket at `path`, as a desktop's services leave them in /run/user.
    void Listen(const fs::path& path) {
        Socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(Socket, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(Socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }

    fs::path Dir;
    int Socket = -1;
};

TEST_F(HexFileKinds, DevicesPipesSocketsAndFoldersAreRefusedAtOnce) {
    const struct Case {
        const char* Name;
        std::function<void(const fs::path&)> Make;
        const char* Says;
    } cases[] = {
        {"fifo.hex", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         "It is a pipe (FIFO), not a file"},
        {"zero.hex", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
         "It is a device, not a file"},
        {"urandom.hex", [](const fs::path& p) { fs::create_symlink("/dev/urandom", p); },
         "It is a device, not a file"},
        {"socket.hex", [this](const fs::path& p) { Listen(p); }, "It is a socket, not a file"},
        {"folder.hex", [](const fs::path& p) { fs::create_directory(p); }, "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const fs::path path = Dir / c.Name;
        c.Make(path);
        TFakeHost host;
        TProgramState state;
        host.Terminal.SetText("kept");
        host.HexFileToChoose = path.string();
        try {
            ButtonOpenHexClick(host, state);
            ADD_FAILURE() << "no file error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot open file \"" + path.string() + "\". " + c.Says);
        }
        EXPECT_EQ(host.Terminal.Text(), "kept");
        EXPECT_TRUE(host.Messages.empty());
    }
}

} // namespace
