#include "config_path.hpp"

#include <algorithm>

#include "core/text/display_text.hpp"

namespace nvx::session {
namespace {

std::u32string quoted(const std::u32string& text) {
    return U"'" + display::escape_controls(text) + U"'";
}

std::u32string folder_name(const std::u32string& folder) {
    return folder.empty() ? U"the working folder" : U"the folder " + quoted(folder);
}

// Why the path's folder cannot take the file; "" when it can.
std::u32string folder_problem(const PathFacts& facts) {
    const bool exists = facts.existing_folder == facts.folder;
    if (!facts.existing_is_directory) {
        const std::u32string not_folder = quoted(facts.existing_folder) + U" is not a folder";
        return exists ? not_folder : folder_name(facts.folder) + U" cannot be created (" + not_folder + U")";
    }
    if (facts.existing_writable) return U"";
    if (exists) return folder_name(facts.folder) + U" is not writable";
    return folder_name(facts.folder) + U" cannot be created (" + folder_name(facts.existing_folder) +
           U" is not writable)";
}

std::u32string file_problem(const PathFacts& facts) {
    switch (facts.content) {
        case PathFacts::Content::Unreadable:
            return U"it cannot be read (" + display::escape_controls(facts.content_detail) + U")";
        case PathFacts::Content::Malformed:
            return U"its content is not valid JSON";
        case PathFacts::Content::OtherJson:
            return U"its top level is a JSON " + display::escape_controls(facts.content_detail) +
                   U", not an object";
        case PathFacts::Content::JsonObject:
            break;
    }
    return facts.file_writable ? U"" : U"the file is not writable";
}

}  // namespace

PathVerdict check_config_path(const std::u32string& path, FileSystem& files) {
    const auto refused = [&](const std::u32string& why) {
        return PathVerdict{false, U"Cannot save to " + quoted(path) + U": " + why + U"."};
    };
    if (std::any_of(path.begin(), path.end(), is_refused_path_character)) {
        return refused(U"the path has a control character in it");
    }
    const PathFacts facts = files.facts(path);
    if (facts.entry == PathFacts::Entry::Directory) return refused(U"it is a folder");
    if (facts.entry == PathFacts::Entry::File) {
        if (std::u32string problem = file_problem(facts); !problem.empty()) return refused(problem);
    }
    if (std::u32string problem = folder_problem(facts); !problem.empty()) return refused(problem);
    return {};
}

}  // namespace nvx::session
