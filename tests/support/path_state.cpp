#include "path_state.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

path_state state_of(const std::string& path) {
    path_state state;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        state.type = "missing";
        return state;
    }
    state.inode = info.st_ino;
    state.mode = info.st_mode & 07777;
    state.owner = info.st_uid;
    state.group = info.st_gid;
    state.links = info.st_nlink;
    if (S_ISREG(info.st_mode)) {
        state.type = "file";
        state.bytes = read_bytes(path);
    } else if (S_ISLNK(info.st_mode)) {
        state.type = "link";
        char text[4096];
        const ssize_t n = readlink(path.c_str(), text, sizeof text);
        if (n > 0) state.link_text.assign(text, size_t(n));
    } else if (S_ISFIFO(info.st_mode)) {
        state.type = "fifo";
    } else if (S_ISSOCK(info.st_mode)) {
        state.type = "socket";
    } else if (S_ISCHR(info.st_mode)) {
        state.type = "char";
    } else if (S_ISBLK(info.st_mode)) {
        state.type = "block";
    } else if (S_ISDIR(info.st_mode)) {
        state.type = "dir";
    }
    return state;
}

namespace {

void add_tree(const std::string& root, const std::string& relative, tree_state* tree) {
    for (const std::string& name : entries(relative.empty() ? root : root + "/" + relative)) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        const path_state state = state_of(root + "/" + path);
        (*tree)[path] = state;
        if (state.type == "dir") add_tree(root, path, tree);
    }
}

}  // namespace

tree_state snapshot(const std::string& directory) {
    tree_state tree;
    add_tree(directory, "", &tree);
    return tree;
}

bool operator==(const path_state& a, const path_state& b) {
    return a.type == b.type && a.inode == b.inode && a.mode == b.mode && a.owner == b.owner && a.group == b.group &&
           a.links == b.links && a.link_text == b.link_text && a.bytes == b.bytes;
}

std::ostream& operator<<(std::ostream& out, const path_state& s) {
    out << s.type << " inode " << s.inode << " mode " << std::oct << s.mode << std::dec << " owner " << s.owner << ":"
        << s.group << " links " << s.links;
    if (!s.link_text.empty()) out << " -> " << s.link_text;
    if (s.type == "file") out << " " << s.bytes.size() << " bytes";
    return out;
}

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names = list_dir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

const std::vector<uint8_t>& old_bytes() {
    static const std::vector<uint8_t> bytes = {'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};
    return bytes;
}

test_image sample_image(int seed) { return noise(9, 7, unsigned(seed)); }

int as_nobody(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(120);
        _exit(fn());
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

scratch_mount::scratch_mount(const std::string& directory, const std::string& options) : directory_(directory) {
    if (geteuid() != 0) {
        why_not_ = "mounting a tmpfs needs root";
        return;
    }
    if (mount("tmpfs", directory.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        why_not_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

scratch_mount::~scratch_mount() {
    if (mounted_) umount2(directory_.c_str(), MNT_DETACH);
}

void fill_bytes(const std::string& directory) {
    const int fd = open((directory + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    static const char block[4096] = {};
    while (write(fd, block, sizeof block) > 0) {
    }
    while (write(fd, block, 1) > 0) {
    }
    close(fd);
}

void fill_inodes(const std::string& directory) {
    for (int i = 0;; ++i) {
        const int fd = open((directory + "/inode" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) break;
        close(fd);
    }
}
