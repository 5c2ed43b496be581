// What stands at a path, as the write-path tests compare it before and after a
// call: its type, identity, permissions, owner and content, and the names
// beside it.
#ifndef IMGFILTER_TESTS_PATH_STATE_H
#define IMGFILTER_TESTS_PATH_STATE_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

struct path_state {
    std::string type;  // "missing", "file", "link", "fifo", "socket", "char", "block", "dir"
    ino_t inode = 0;
    unsigned mode = 0;  // permission bits with set-id and sticky
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t links = 0;
    std::string link_text;       // a symlink's content
    std::vector<uint8_t> bytes;  // a regular file's content
};

// The state without following a symlink at the end of the path.
path_state state_of(const std::string& path);

// The directory's entries, sorted.
std::vector<std::string> entries(const std::string& directory);

// A 0600 file with recognisable content that no image call would produce.
const std::vector<uint8_t>& old_bytes();

// The test image that the write-path tests filter (unchanged) into outputs.
test_image sample_image(int seed = 1);

// Runs fn in a child process that has made itself the user nobody (65534),
// where root would ignore directory permissions; the child's exit status is
// fn's result (0 for success). -1 when the child could not be run.
int as_nobody(const std::function<int()>& fn);

// Mounts a fresh tmpfs with the given options (e.g. "size=64k") on an empty
// directory, unmounted when the object goes away. Needs root; mounted() says
// whether it worked and why_not() why it did not.
class scratch_mount {
public:
    scratch_mount(const std::string& directory, const std::string& options);
    ~scratch_mount();
    bool mounted() const { return mounted_; }
    const std::string& why_not() const { return why_not_; }

private:
    std::string directory_;
    bool mounted_ = false;
    std::string why_not_;
};

// Fills the file system holding directory: with one file until it refuses
// more bytes, or with empty files until it refuses more inodes.
void fill_bytes(const std::string& directory);
void fill_inodes(const std::string& directory);

// Every entry under a directory, by its path relative to it, symlinks not
// followed.
using tree_state = std::map<std::string, path_state>;
tree_state snapshot(const std::string& directory);

bool operator==(const path_state& a, const path_state& b);
std::ostream& operator<<(std::ostream& out, const path_state& state);

#endif
