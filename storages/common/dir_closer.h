#pragma once
// Closes a directory stream however the scope that read it is left.

#include <dirent.h>

class DirCloser {
public:
    explicit DirCloser(DIR* dir) : dir_(dir) {}
    ~DirCloser() {
        if (dir_)
            closedir(dir_);
    }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

private:
    DIR* dir_;
};
