// The path typed at the filename prompt of "save as default", checked before
// anything is written. What the file system holds at the path comes from the
// World's FileSystem port, which only looks (it creates no folder); whether
// the path is taken, and the line that says why not, is decided here.
#pragma once

#include <string>

namespace nvx::session {

// What the file system reports about a typed path.
struct PathFacts {
    enum class Entry { Missing, Directory, File };
    enum class Content { JsonObject, Unreadable, Malformed, OtherJson };

    Entry entry = Entry::Missing;
    // An existing file: what reading it as JSON gave; `content_detail` is the
    // read error's text (Unreadable) or the kind of value at its top (OtherJson).
    Content content = Content::JsonObject;
    std::u32string content_detail;
    bool file_writable = true;
    // The folder the path names ("" for the working folder) and the nearest
    // folder above the path that exists (the path's own folder when it exists).
    std::u32string folder;
    std::u32string existing_folder;
    bool existing_is_directory = true;
    bool existing_writable = true;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Looks at `path` without changing anything.
    virtual PathFacts facts(const std::u32string& path) = 0;
};

struct PathVerdict {
    bool accepted = true;
    std::u32string refusal;  // one line naming the path and why it is refused
};

// True for the characters a typed path may not hold: codes below 32, and 127.
constexpr bool is_refused_path_character(char32_t c) {
    return c < 0x20 || c == 0x7f;
}

// Whether the configuration can be saved into `path` as typed: no control
// character, not a folder, an existing file only when it holds a JSON object
// and may be replaced, and a folder that exists and is writable or can be
// created inside one that is.
PathVerdict check_config_path(const std::u32string& path, FileSystem& files);

}  // namespace nvx::session
