// Finding a module on the Targets screen: "/" opens a prompt in the footer;
// each key typed there selects the first module, from the row the search
// started at and wrapping around, whose id or class name holds the text.
// Enter keeps the selection, Esc puts it back. n and N then step through the
// matches of the last search.
#include <algorithm>

#include "core/text/display_text.hpp"
#include "core/text/styling.hpp"
#include "session.hpp"

namespace nvx::session {
namespace {

const std::u32string kSearchHint = U"type part of a module id or class name";

std::u32string quoted(const std::u32string& text) {
    return U"'" + display::escape_controls(text) + U"'";
}

std::u32string no_match(const std::u32string& text) {
    return U"no module matches " + quoted(text);
}

// "match k of N": where `position` stands among the matches.
std::u32string match_count(const std::vector<int>& matches, int position) {
    const auto at = std::lower_bound(matches.begin(), matches.end(), position) - matches.begin();
    return U"match " + display::decimal(at + 1) + U" of " +
           display::decimal(static_cast<long long>(matches.size()));
}

}  // namespace

int Session::selected_position() {
    const std::vector<int>& visible = model_->visible(state_.open_modules);
    if (visible.empty()) return -1;
    const auto last = static_cast<long long>(visible.size()) - 1;
    return visible[static_cast<std::size_t>(std::clamp(state_.target_selected, 0LL, last))];
}

void Session::select_position(int position) {
    const auto at = static_cast<std::size_t>(position);
    if (position < 0 || at >= model_->size()) return;
    if (model_->table().inside_replaced(at)) {
        const std::size_t group = model_->group_around(at);
        if (state_.open_modules.insert(group).second && state_.search.open)
            state_.search.opened.push_back(group);
    }
    const std::vector<int>& visible = model_->visible(state_.open_modules);
    state_.target_selected = std::lower_bound(visible.begin(), visible.end(), position) - visible.begin();
}

void Session::open_search() {
    state_.search = Search();
    state_.search.open = true;
    state_.search.origin = selected_position();
    state_.search.note = kSearchHint;
}

void Session::search_key(keys::Action action, const std::u32string& key) {
    using keys::Action;
    switch (action) {
        case Action::KeepFound:
            close_search(true);
            break;
        case Action::AbandonSearch:
            close_search(false);
            break;
        case Action::EraseSearchCharacter:
            if (!state_.search.text.empty()) state_.search.text.pop_back();
            update_search();
            break;
        case Action::TypeSearchCharacter:
            state_.search.text += key;
            update_search();
            break;
        default:
            break;  // every other key is swallowed while the prompt is open
    }
}

void Session::close_search(bool keep_selection) {
    Search& search = state_.search;
    if (!keep_selection) {
        // Back to where the search started, with what it opened closed again.
        for (const std::size_t group : search.opened) state_.open_modules.erase(group);
        search.opened.clear();
        if (search.origin >= 0) select_position(search.origin);
    } else if (!search.text.empty()) {
        state_.last_search = search.text;
        const std::vector<int>& matches = model_->search().matches(search.text);
        state_.status = matches.empty()
                            ? no_match(search.text)
                            : match_count(matches, selected_position()) + U" for " + quoted(search.text);
    }
    search = Search();
}

void Session::update_search() {
    Search& search = state_.search;
    // Each text is searched from where the search started: what an earlier
    // text opened is closed first.
    for (const std::size_t group : search.opened) state_.open_modules.erase(group);
    search.opened.clear();
    const std::vector<int>& matches = model_->search().matches(search.text);
    if (search.text.empty() || matches.empty()) {
        search.note = search.text.empty() ? kSearchHint : no_match(search.text);
        if (search.origin >= 0) select_position(search.origin);
        return;
    }
    const auto from = std::lower_bound(matches.begin(), matches.end(), search.origin);
    const int position = from == matches.end() ? matches.front() : *from;
    select_position(position);
    search.note = match_count(matches, position);
}

void Session::search_again(int direction) {
    if (state_.last_search.empty()) {
        state_.status = U"No search yet: press / and type part of a module id or class name.";
        return;
    }
    const std::vector<int>& matches = model_->search().matches(state_.last_search);
    if (matches.empty()) {
        state_.status = no_match(state_.last_search);
        return;
    }
    const int current = selected_position();
    int position;
    if (direction > 0) {
        const auto next = std::upper_bound(matches.begin(), matches.end(), current);
        position = next == matches.end() ? matches.front() : *next;
    } else {
        const auto here = std::lower_bound(matches.begin(), matches.end(), current);
        position = here == matches.begin() ? matches.back() : *(here - 1);
    }
    select_position(position);
    state_.status = match_count(matches, position) + U" for " + quoted(state_.last_search);
}

std::u32string Session::search_prompt_line() const {
    return U"  " +
           style::color_text(U"/" + display::escape_controls(state_.search.text), style::kColorAccent) +
           style::inverted(U" ") + U"   " + style::dim(state_.search.note);
}

}  // namespace nvx::session
