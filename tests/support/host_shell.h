// Changes made on the Linux host behind Wine (mounts, links, chattr), for
// faults that Windows calls cannot bring about. Without Wine, or without
// the rights for a change, the tests that need one skip.
#pragma once

#include <string>

// The host path behind a Windows path, or "" when not under Wine.
std::string unix_path(std::wstring path);

// `text` in single quotes, for the host's shell.
std::string quoted(const std::string& text);

// Runs `script` with the host's shell and returns its exit status; -1 when
// there is no host (not Wine) or it gave no answer.
int run_host_script(const std::string& script);

// A host-side change undone when the holder goes out of scope; declared
// after the folders it works in, so it is undone before they are removed.
class HostChange {
public:
    HostChange(const std::string& apply, std::string undo);
    ~HostChange();
    HostChange(const HostChange&) = delete;
    HostChange& operator=(const HostChange&) = delete;
    bool active() const { return active_; }

private:
    std::string undo_;
    bool active_;
};

// A file or folder made immutable (chattr +i) while the holder lives: the
// platform's copy, move and attribute calls on it then fail.
HostChange immutable(const std::wstring& path);

#define REQUIRE_HOST(change, what) \
    if (!(change).active()) GTEST_SKIP() << "needs root on the Linux host behind Wine: " what
