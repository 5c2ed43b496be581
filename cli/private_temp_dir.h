// A directory only this process can enter (mode 0700), made under $TMPDIR or
// /tmp, and removed with whatever it holds when the owner goes, or when
// SIGINT, SIGTERM or SIGHUP ends the process while it exists. Data read from
// stdin and results bound for stdout pass through here, so no other user sees
// or swaps them while they wait.
#ifndef IMGFILTER_CLI_PRIVATE_TEMP_DIR_H
#define IMGFILTER_CLI_PRIVATE_TEMP_DIR_H

#include <string>

class private_temp_dir {
public:
    private_temp_dir() = default;
    ~private_temp_dir();
    private_temp_dir(const private_temp_dir&) = delete;
    private_temp_dir& operator=(const private_temp_dir&) = delete;

    // Makes the directory; false with the system's reason in *error.
    bool create(std::string* error);
    // The path of name inside the directory (name holds no slash).
    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    bool removes_on_signal_ = false;
};

// Writes data to a new file at path that no one else may read (mode 0600,
// exclusive create). false with the system's reason in *error.
bool write_private_file(const std::string& path, const std::string& data, std::string* error);

#endif
