// The application manifest of the programs: present in each .exe, and taking effect (this
// test carries the same manifest and looks at its own process).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The manifest resource of a program, read without running it ("" when it has none).
std::string ManifestOf(const std::wstring& program) {
    HMODULE module = ::LoadLibraryExW(program.c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        ADD_FAILURE() << "cannot load " << std::string(program.begin(), program.end());
        return {};
    }
    std::string text;
    if (HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        if (HGLOBAL loaded = ::LoadResource(module, found)) {
            text.assign(static_cast<const char*>(::LockResource(loaded)),
                        ::SizeofResource(module, found));
        }
    }
    ::FreeLibrary(module);
    return text;
}

// A path written with slashes, with the backslashes the loader asks for.
std::wstring WindowsPath(const char* text) {
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), n);
    wide.resize(static_cast<std::size_t>(n - 1));
    for (wchar_t& c : wide) {
        c = c == L'/' ? L'\\' : c;
    }
    return wide;
}

TEST(WinManifest, EachProgramDeclaresItsWindowsDpiAwarenessAndCodePage) {
    for (const char* program : {TARVEX_MANIFEST_PROGRAMS}) {
        SCOPED_TRACE(program);
        const std::string manifest = ManifestOf(WindowsPath(program));
        ASSERT_FALSE(manifest.empty());
        for (const char* part :
             {"<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>", // Windows 10 and 11
              ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>",
              ">UTF-8</activeCodePage>", "level=\"asInvoker\""}) {
            EXPECT_NE(manifest.find(part), std::string::npos) << part;
        }
    }
}

TEST(WinManifest, TheProcessCodePageIsUtf8) {
    EXPECT_EQ(::GetACP(), static_cast<UINT>(CP_UTF8));
}

} // namespace
