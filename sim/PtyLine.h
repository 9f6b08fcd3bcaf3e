// The instrument's end of the serial line: the master side of a new pseudo-terminal.
#pragma once

#include <string>
#include <string_view>

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the pty and keeps a descriptor of its slave side open, so the master sees no
    // hang-up when the host closes and reopens the port between operations.  Returns an error
    // text, empty on success.
    std::string Open();
    // Makes `path` a symlink to the slave (replacing a stale symlink); error text or empty.
    std::string Link(const std::string& path);
    // Closes both sides and removes the link, as a pulled adapter makes the port vanish.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    // The bit rate the host set, or 0 when unknown.
    long Speed() const;
    // Bytes sent to the host that it has not read yet.
    long Unread() const;

    // Non-blocking transfers; they return the byte count, 0 when nothing could move.
    long Read(char* buffer, std::size_t size);
    long Write(std::string_view bytes);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};
