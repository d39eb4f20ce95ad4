// Finding a module on the Targets screen: "/" opens a prompt in the footer;
// each key typed there selects the first module, from the row the search
// started at and wrapping around, whose id or class name holds the text.
// Enter keeps the selection, Esc puts it back. n and N then step through the
// matches of the last search.
#include <algorithm>

#include "core/keys/key_table.hpp"
#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "key_tests.hpp"
#include "session.hpp"

namespace nvx::configure {
namespace {

std::u32string quoted(const std::u32string& text) {
    return U"'" + display::escape_controls(text) + U"'";
}

std::u32string no_match(const std::u32string& text) {
    return U"no module matches " + quoted(text);
}

// "match k of N": where `position` stands among the matches.
std::u32string match_count(const std::vector<int>& matches, int position) {
    const auto at = std::lower_bound(matches.begin(), matches.end(), position) - matches.begin();
    return U"match " + display::decimal(static_cast<std::size_t>(at) + 1) + U" of " +
           display::decimal(matches.size());
}

}  // namespace

model::ModuleSearch& Session::module_search() {
    return table().search();
}

int Session::selected_position(const std::vector<int>& visible) const {
    if (visible.empty()) return -1;
    const auto last = static_cast<Py_ssize_t>(visible.size()) - 1;
    return visible[static_cast<std::size_t>(std::clamp<Py_ssize_t>(target_selected_index_, 0, last))];
}

int Session::selected_position() {
    return selected_position(table().visible(expanded_replaced_));
}

void Session::select_position(int position, std::vector<int> visible) {
    target::SessionModel& entry_table = table();
    const auto at = static_cast<std::size_t>(position);
    // A table built again for a changed entry list may have lost the row.
    if (position < 0 || at >= entry_table.size()) return;
    if (entry_table.table().inside_replaced(at)) {
        const py::object root = entry_table.oracle().object_of(entry_table.table().replaced_roots.values[at]);
        PyObject* value = PyDict_GetItemWithError(expanded_replaced_.ptr(), root.ptr());  // borrowed
        if (value == nullptr && PyErr_Occurred()) throw py::error_already_set();
        const py::object earlier =
            value != nullptr ? py::reinterpret_borrow<py::object>(value) : py::object();
        if (!earlier || !truthy(earlier)) {
            if (search_.open) search_.opened.emplace_back(root, earlier);
            expanded_replaced_[root] = py::bool_(true);
            visible = entry_table.visible(expanded_replaced_);
        }
    }
    const auto found = std::lower_bound(visible.begin(), visible.end(), position);
    target_selected_index_ = found - visible.begin();
}

void Session::select_position(int position) {
    select_position(position, table().visible(expanded_replaced_));
}

void Session::open_search() {
    search_ = Search();
    search_.open = true;
    search_.origin = selected_position();
    search_.note = U"type part of a module id or class name";
}

void Session::undo_search_openings() {
    for (auto it = search_.opened.rbegin(); it != search_.opened.rend(); ++it) {
        if (it->second) {
            expanded_replaced_[it->first] = it->second;
        } else if (PyDict_DelItem(expanded_replaced_.ptr(), it->first.ptr()) != 0) {
            throw py::error_already_set();
        }
    }
    search_.opened.clear();
}

void Session::close_search(bool keep_selection) {
    if (!keep_selection) {
        // Back to where the search started, with what it opened closed again.
        undo_search_openings();
        if (search_.origin >= 0) select_position(search_.origin);
    } else if (!search_.text.empty()) {
        last_search_ = search_.text;
        const std::vector<int>& matches = module_search().matches(search_.text);
        status_message_ = from_u32(matches.empty() ? no_match(search_.text)
                                                   : match_count(matches, selected_position()) + U" for " +
                                                         quoted(search_.text));
    }
    search_ = Search();
}

void Session::update_search() {
    // Each text is searched from where the search started: what an earlier
    // text opened is closed first.
    undo_search_openings();
    std::vector<int> visible = table().visible(expanded_replaced_);
    const int origin = search_.origin;
    const std::vector<int>& matches = module_search().matches(search_.text);
    if (search_.text.empty() || matches.empty()) {
        search_.note =
            search_.text.empty() ? U"type part of a module id or class name" : no_match(search_.text);
        if (origin >= 0) select_position(origin, std::move(visible));
        return;
    }
    const auto from = std::lower_bound(matches.begin(), matches.end(), origin);
    const int position = from == matches.end() ? matches.front() : *from;
    select_position(position, std::move(visible));
    search_.note = match_count(matches, position);
}

bool Session::handle_search_key(const py::object& key) {
    if (!search_.open) return false;
    const std::u32string text = keys::text_of(key);
    switch (nvx::keys::action_in(nvx::keys::Place::SearchPrompt, text)) {
        case nvx::keys::Action::KeepFound:
            close_search(true);
            break;
        case nvx::keys::Action::AbandonSearch:
            close_search(false);
            break;
        case nvx::keys::Action::EraseSearchCharacter:
            if (!search_.text.empty()) search_.text.pop_back();
            update_search();
            break;
        case nvx::keys::Action::TypeSearchCharacter:
            search_.text += text;
            update_search();
            break;
        default:
            break;  // every other key is swallowed while the prompt is open
    }
    return true;
}

void Session::search_again(int direction) {
    if (last_search_.empty()) {
        status_message_ = py::str("No search yet: press / and type part of a module id or class name.");
        return;
    }
    const std::vector<int>& matches = module_search().matches(last_search_);
    if (matches.empty()) {
        status_message_ = from_u32(no_match(last_search_));
        return;
    }
    std::vector<int> visible = table().visible(expanded_replaced_);
    const int current = selected_position(visible);
    int position;
    if (direction > 0) {
        const auto next = std::upper_bound(matches.begin(), matches.end(), current);
        position = next == matches.end() ? matches.front() : *next;
    } else {
        const auto here = std::lower_bound(matches.begin(), matches.end(), current);
        position = here == matches.begin() ? matches.back() : *(here - 1);
    }
    select_position(position, std::move(visible));
    status_message_ = from_u32(match_count(matches, position) + U" for " + quoted(last_search_));
}

std::u32string Session::search_prompt_line() const {
    return U"  " + style::color_text(U"/" + display::escape_controls(search_.text), style::kColorAccent) +
           style::inverted(U" ") + U"   " + style::dim(search_.note);
}

}  // namespace nvx::configure
