#include "entry_table.hpp"

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "common/interp.hpp"
#include "core/model/module_ids.hpp"
#include "mode_rules.hpp"
#include "module_entries.hpp"
#include "names.hpp"
#include "rule_lists.hpp"

namespace nvx::target {
namespace {

// The table of the running session, handed out for the session's own list.
const std::unique_ptr<EntryTable>* g_session_table = nullptr;

// The key of each field, in `Field` order.
PyObject* key_of(Field which) {
    const Names& n = names();
    const std::array<PyObject*, static_cast<std::size_t>(Field::Count)> keys = {
        n.id,          n.type_name,    n.module, n.direct_param_count, n.is_replaced_root,
        n.in_replaced, n.replaced_root};
    return keys[static_cast<std::size_t>(which)];
}

// `entry[key]`, or a null object when the entry has no such key.
py::object read_field(PyObject* entry, PyObject* key) {
    if (PyDict_CheckExact(entry)) {
        PyObject* value = PyDict_GetItemWithError(entry, key);
        if (value == nullptr && PyErr_Occurred()) throw py::error_already_set();
        return value != nullptr ? borrow(value) : py::object();
    }
    PyObject* value = PyObject_GetItem(entry, key);
    if (value == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
        PyErr_Clear();
        return py::object();
    }
    return py::reinterpret_steal<py::object>(value);
}

[[noreturn]] void raise_missing(PyObject* key) {
    py::object args = steal(PyTuple_Pack(1, key));
    PyErr_SetObject(PyExc_KeyError, args.ptr());
    throw py::error_already_set();
}

PyObject* mode_text(Mode mode) {
    switch (mode) {
        case Mode::Dendrified:
            return names().dendrified;
        case Mode::Tracked:
            return names().tracked;
        default:
            return Py_None;
    }
}

PyObject* source_text(Source source) {
    switch (source) {
        case Source::Inherited:
            return names().inherited;
        case Source::Id:
            return names().id_source;
        case Source::Type:
            return names().type_source;
        default:
            return Py_None;
    }
}

void set_item(PyObject* dict, PyObject* key, PyObject* value) {
    if (PyDict_SetItem(dict, key, value) < 0) throw py::error_already_set();
}

// `sorted(rule list)`.
py::list sorted_rules(RuleList which) {
    py::object ordered = steal(PySequence_List(fetch_rule_list(which).ptr()));
    if (PyList_Sort(ordered.ptr()) < 0) throw py::error_already_set();
    return py::reinterpret_borrow<py::list>(ordered);
}

EntryTable::Known known_truth(const py::object& value) {
    if (value.ptr() == Py_True) return EntryTable::Known::Yes;
    if (value.ptr() == Py_False) return EntryTable::Known::No;
    return EntryTable::Known::Ask;
}

EntryTable::Known known_positive(const py::object& value) {
    if (!value || !PyLong_CheckExact(value.ptr())) return EntryTable::Known::Ask;
    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (count == -1 && PyErr_Occurred()) throw py::error_already_set();
    return overflow > 0 || count > 0 ? EntryTable::Known::Yes : EntryTable::Known::No;
}

// The mode one pair of rule lists gives a value.
Mode mode_from(const RuleMembership& dendrify, const RuleMembership& track, PyObject* value) {
    if (dendrify.contains(value)) return Mode::Dendrified;
    if (track.contains(value)) return Mode::Tracked;
    return Mode::None;
}

}  // namespace

std::unique_ptr<EntryTable> EntryTable::build(const py::handle& entries) {
    auto table = std::unique_ptr<EntryTable>(new EntryTable());
    table->entries_ =
        PyList_CheckExact(entries.ptr()) ? borrow(entries.ptr()) : steal(PySequence_List(entries.ptr()));
    PyObject* list = table->entries_.ptr();
    const auto count = static_cast<std::size_t>(PyList_GET_SIZE(list));
    table->rows_.resize(count);
    table->hot_.resize(count);
    table->entry_objects_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* entry = PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i));
        table->rows_[i].entry = borrow(entry);
        table->entry_objects_.push_back(entry);
    }
    return table;
}

// Reads one field of every entry, at the first rule that asks for it: a call
// that needs only a few fields reads only those.
void EntryTable::load(Field which) const {
    constexpr std::size_t kAhead = 16;
    PyObject* key = key_of(which);
    const auto k = static_cast<std::size_t>(which);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (i + kAhead < rows_.size()) __builtin_prefetch(entry_objects_[i + kAhead]);
        rows_[i].fields[k] = read_field(entry_objects_[i], key);
    }
    loaded_ |= 1u << k;
    switch (which) {
        case Field::Id:
            for (std::size_t i = 0; i < rows_.size() && first_without_id_ < 0; ++i) {
                if (!rows_[i][Field::Id]) first_without_id_ = static_cast<std::ptrdiff_t>(i);
            }
            break;
        case Field::TypeName:
            index_types();
            break;
        case Field::InReplaced:
            for (std::size_t i = 0; i < rows_.size(); ++i) hot_[i].in_replaced = known_truth(rows_[i][which]);
            break;
        case Field::IsReplacedRoot:
            for (std::size_t i = 0; i < rows_.size(); ++i) hot_[i].is_root = known_truth(rows_[i][which]);
            break;
        case Field::DirectParamCount:
            for (std::size_t i = 0; i < rows_.size(); ++i) hot_[i].owns = known_positive(rows_[i][which]);
            break;
        default:
            break;
    }
}

EntryTable& EntryTable::for_entries(const py::handle& entries, std::unique_ptr<EntryTable>& scratch) {
    if (EntryTable* session = session_table_for(entries)) return *session;
    scratch = build(entries);
    return *scratch;
}

EntryTable* EntryTable::session_table_for(const py::handle& entries) {
    if (g_session_table != nullptr && *g_session_table && (*g_session_table)->describes(entries)) {
        return g_session_table->get();
    }
    return nullptr;
}

EntryTable::Lease::Lease(const std::unique_ptr<EntryTable>& table) : previous_(g_session_table) {
    g_session_table = &table;
}

EntryTable::Lease::~Lease() {
    g_session_table = previous_;
}

bool EntryTable::describes(const py::handle& entries) const {
    if (entries.ptr() != entries_.ptr() || !PyList_CheckExact(entries.ptr()) ||
        PyList_GET_SIZE(entries.ptr()) != static_cast<Py_ssize_t>(entry_objects_.size())) {
        return false;
    }
    return entry_objects_.empty() || std::memcmp(PySequence_Fast_ITEMS(entries.ptr()), entry_objects_.data(),
                                                 entry_objects_.size() * sizeof(PyObject*)) == 0;
}

// Parent of every entry: the latest earlier entry whose id is the parent id.
// Text ids are matched as text; any other ids through `get_parent_module_id`
// and the interpreter's own key equality.
void EntryTable::index_parents() {
    parents_.assign(rows_.size(), -1);
    std::vector<std::string_view> texts(rows_.size());
    text_ids_ = true;
    for (std::size_t i = 0; i < rows_.size() && text_ids_; ++i) {
        PyObject* id = rows_[i][Field::Id].ptr();
        text_ids_ = PyUnicode_CheckExact(id) && utf8_view(id, texts[i]);
    }
    if (text_ids_) {
        // In pre-order the parent is on the chain of ancestors of the previous
        // entry, so a stack answers almost every lookup without hashing; a table
        // of every earlier id is built only when a parent is not on that chain
        // (entries out of order, ids with dots of their own). Along the chain
        // each id is a strict prefix of the next, so no id is on it twice and the
        // entry found there is the latest one with that id.
        std::vector<std::pair<std::string_view, int>> chain;
        std::unique_ptr<TextMap<int>> earlier;
        std::string scratch;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (auto parent = parent_id(texts[i], scratch)) {
                while (!chain.empty() && chain.back().first != *parent) chain.pop_back();
                if (!chain.empty()) {
                    parents_[i] = chain.back().second;
                } else {
                    if (!earlier) {
                        earlier = std::make_unique<TextMap<int>>(rows_.size());
                        for (std::size_t j = 0; j < i; ++j) earlier->assign(texts[j], static_cast<int>(j));
                    }
                    if (const int* found = earlier->find(*parent)) parents_[i] = *found;
                }
            } else {
                chain.clear();
            }
            if (earlier) earlier->assign(texts[i], static_cast<int>(i));
            chain.emplace_back(texts[i], static_cast<int>(i));
        }
    } else {
        py::dict latest;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            const py::object& id = rows_[i][Field::Id];
            py::object parent = get_parent_module_id(id);
            if (!parent.is_none()) {
                PyObject* found = PyDict_GetItemWithError(latest.ptr(), parent.ptr());
                if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
                if (found != nullptr) parents_[i] = static_cast<int>(PyLong_AsLong(found));
            }
            set_item(latest.ptr(), id.ptr(), py::int_(i).ptr());
        }
    }
    parents_indexed_ = true;
}

void EntryTable::index_ids() {
    by_id_ = TextMap<int>(rows_.size());
    same_id_next_.assign(rows_.size(), -1);
    TextMap<int> last(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        std::string_view text;
        utf8_view(rows_[i][Field::Id].ptr(), text);  // text ids only: always has a UTF-8 form
        // Entries sharing an id chain from the first one with it.
        if (const int* previous = last.find(text))
            same_id_next_[static_cast<std::size_t>(*previous)] = static_cast<int>(i);
        by_id_.insert(text, static_cast<int>(i));
        last.assign(text, static_cast<int>(i));
    }
    ids_indexed_ = true;
}

// One slot per distinct class name: text names by their text, others by identity.
void EntryTable::index_types() const {
    TextMap<int> by_text;
    IdentityMap<int> by_object;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        const py::object& type_name = row[Field::TypeName];
        if (!type_name) continue;
        PyObject* name = type_name.ptr();
        auto [known, fresh] = by_object.insert(name, 0);
        if (fresh) {
            std::string_view text;
            const bool plain = PyUnicode_CheckExact(name) && utf8_view(name, text);
            int slot = static_cast<int>(type_names_.size());
            if (plain) {
                auto [existing, new_text] = by_text.insert(text, slot);
                slot = *existing;
                if (new_text) type_names_.push_back(type_name);
            } else {
                type_names_.push_back(type_name);
            }
            *known = slot;
        }
        hot_[i].type_slot = *known;
    }
}

const py::object& EntryTable::field(std::size_t index, Field which) const {
    if (!loaded(which)) load(which);
    const py::object& value = rows_[index][which];
    if (!value) raise_missing(key_of(which));
    return value;
}

py::handle EntryTable::field_if_present(std::size_t index, Field which) const {
    if (!loaded(which)) load(which);
    return rows_[index][which];
}

bool EntryTable::truth(std::size_t index, Field which) const {
    if (!loaded(which)) load(which);
    const Hot& hot = hot_[index];
    const Known known = which == Field::InReplaced       ? hot.in_replaced
                        : which == Field::IsReplacedRoot ? hot.is_root
                                                         : Known::Ask;
    if (known != Known::Ask) return known == Known::Yes;
    return truthy(field(index, which).ptr());
}

bool EntryTable::owns_parameters(std::size_t index) const {
    if (!loaded(Field::DirectParamCount)) load(Field::DirectParamCount);
    const Known known = hot_[index].owns;
    if (known != Known::Ask) return known == Known::Yes;
    PyObject* count = field(index, Field::DirectParamCount).ptr();
    py::object zero = steal(PyLong_FromLong(0));
    const int positive = PyObject_RichCompareBool(count, zero.ptr(), Py_GT);
    if (positive < 0) throw py::error_already_set();
    return positive != 0;
}

void EntryTable::resolve(Resolution& out) {
    const std::size_t count = rows_.size();
    // Every id is read before anything resolves.
    if (!loaded(Field::Id)) load(Field::Id);
    if (first_without_id_ >= 0) field(static_cast<std::size_t>(first_without_id_), Field::Id);
    if (!loaded(Field::TypeName)) load(Field::TypeName);
    if (!parents_indexed_) index_parents();
    out.eff.assign(count, Mode::None);
    out.source.assign(count, Source::None);
    out.origin.resize(count);
    out.own_mode.assign(count, Mode::None);
    out.own_source.assign(count, Source::None);
    if (count == 0) return;

    // Each rule list is read once for the whole resolution.
    const RuleMembership ids_dendrify(fetch_rule_list(RuleList::IdsToDendrify));
    const RuleMembership ids_track(fetch_rule_list(RuleList::IdsToTrack));
    const RuleMembership names_dendrify(fetch_rule_list(RuleList::NamesToDendrify));
    const RuleMembership names_track(fetch_rule_list(RuleList::NamesToTrack));
    std::vector<signed char> type_known(type_names_.size(), 0);
    std::vector<Mode> type_mode(type_names_.size(), Mode::None);

    // Own id rules: asked entry by entry; on a table resolved again (the
    // session's), plain text rules over text ids are looked up by text, rule by
    // rule, in an index of the ids built at the second resolution.
    std::vector<Mode> id_mode;
    std::vector<std::string_view> to_dendrify, to_track;
    const bool by_text = text_ids_ && resolutions_++ > 0 && ids_dendrify.text_values(to_dendrify) &&
                         ids_track.text_values(to_track);
    if (by_text) {
        if (!ids_indexed_) index_ids();
        id_mode.assign(count, Mode::None);
        auto mark = [&](const std::vector<std::string_view>& values, Mode mode) {
            for (std::string_view value : values) {
                const int* first = by_id_.find(value);
                for (int i = first ? *first : -1; i >= 0; i = same_id_next_[static_cast<std::size_t>(i)]) {
                    id_mode[static_cast<std::size_t>(i)] = mode;
                }
            }
        };
        mark(to_track, Mode::Tracked);
        mark(to_dendrify, Mode::Dendrified);  // the dendrify list wins
    }

    for (std::size_t i = 0; i < count; ++i) {
        const Row& row = rows_[i];
        const Mode by_id = by_text ? id_mode[i] : mode_from(ids_dendrify, ids_track, row[Field::Id].ptr());
        if (hot_[i].type_slot < 0) field(i, Field::TypeName);
        const auto slot = static_cast<std::size_t>(hot_[i].type_slot);
        if (!type_known[slot]) {
            type_mode[slot] = mode_from(names_dendrify, names_track, type_names_[slot].ptr());
            type_known[slot] = 1;
        }
        const Mode by_type = type_mode[slot];
        // An id rule beats a type rule; an ancestor's mode beats both.
        const Mode own = by_id != Mode::None ? by_id : by_type;
        const Source own_source =
            by_id != Mode::None ? Source::Id : (by_type != Mode::None ? Source::Type : Source::None);
        const int parent = parents_[i];
        if (parent >= 0 && out.eff[static_cast<std::size_t>(parent)] != Mode::None) {
            const auto p = static_cast<std::size_t>(parent);
            out.eff[i] = out.eff[p];
            out.source[i] = Source::Inherited;
            out.origin[i] = out.origin[p];
            out.own_mode[i] = own;
            out.own_source[i] = own_source;
        } else {
            out.eff[i] = own;
            out.source[i] = own_source;
            out.origin[i] = static_cast<int>(i);
        }
    }
}

py::object EntryTable::record(const Resolution& resolution, std::size_t index) const {
    const Names& n = names();
    py::object record = steal(PyDict_New());
    set_item(record.ptr(), n.eff, mode_text(resolution.eff[index]));
    set_item(record.ptr(), n.source, source_text(resolution.source[index]));
    set_item(record.ptr(), n.origin_id,
             rows_[static_cast<std::size_t>(resolution.origin[index])][Field::Id].ptr());
    if (resolution.own_mode[index] != Mode::None) {
        py::object overridden = steal(PyDict_New());
        set_item(overridden.ptr(), n.mode, mode_text(resolution.own_mode[index]));
        set_item(overridden.ptr(), n.source, source_text(resolution.own_source[index]));
        set_item(record.ptr(), n.overridden, overridden.ptr());
    } else {
        set_item(record.ptr(), n.overridden, Py_None);
    }
    return record;
}

py::object EntryTable::records(const Resolution& resolution) const {
    GcPause pause;
    py::object result = steal(PyDict_New());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        set_item(result.ptr(), rows_[i][Field::Id].ptr(), record(resolution, i).ptr());
    }
    return result;
}

std::vector<int> EntryTable::visible(const py::handle& expanded_replaced) const {
    // `expanded_replaced.get(root, False)`, asked once per distinct root object.
    IdentityMap<bool> open;
    auto is_open = [&](PyObject* root) {
        auto [state, fresh] = open.insert(root, false);
        if (fresh) {
            if (PyDict_CheckExact(expanded_replaced.ptr())) {
                PyObject* found = PyDict_GetItemWithError(expanded_replaced.ptr(), root);
                if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
                *state = found != nullptr && truthy(found);
            } else {
                *state = truthy(expanded_replaced.attr("get")(py::handle(root), py::bool_(false)));
            }
        }
        return *state;
    };
    std::vector<int> shown;
    shown.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (truth(i, Field::InReplaced) && !is_open(field(i, Field::ReplacedRoot).ptr())) continue;
        shown.push_back(static_cast<int>(i));
    }
    return shown;
}

std::size_t EntryTable::unset_count(const Resolution& resolution) const {
    std::size_t need = 0;
    unset([&](std::size_t i) { return resolution.eff[i] == Mode::None; }, [&](std::size_t) { ++need; });
    return need;
}

std::size_t EntryTable::children_of(const py::handle& root_id) const {
    if (!root_counts_) {
        py::dict counts;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            PyObject* root = field(i, Field::ReplacedRoot).ptr();
            PyObject* known = PyDict_GetItemWithError(counts.ptr(), root);
            if (known == nullptr && PyErr_Occurred()) throw py::error_already_set();
            py::object next = steal(PyLong_FromSsize_t(known != nullptr ? PyLong_AsSsize_t(known) + 1 : 1));
            set_item(counts.ptr(), root, next.ptr());
        }
        root_counts_ = counts;
    }
    PyObject* found = PyDict_GetItemWithError(root_counts_.ptr(), root_id.ptr());
    if (found == nullptr && PyErr_Occurred()) throw py::error_already_set();
    return found != nullptr ? static_cast<std::size_t>(PyLong_AsSsize_t(found)) : 0;
}

std::vector<std::int64_t> EntryTable::live_counts_by_slot() const {
    if (!loaded(Field::TypeName)) load(Field::TypeName);
    std::vector<std::int64_t> per_slot(type_names_.size(), 0);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (truth(i, Field::InReplaced)) continue;
        if (hot_[i].type_slot < 0) field(i, Field::TypeName);
        ++per_slot[static_cast<std::size_t>(hot_[i].type_slot)];
    }
    return per_slot;
}

std::int64_t EntryTable::live_count(const py::handle& type_name) const {
    const std::vector<std::int64_t> per_slot = live_counts_by_slot();
    std::int64_t count = 0;
    for (std::size_t slot = 0; slot < type_names_.size(); ++slot) {
        if (per_slot[slot] != 0 && equals(type_names_[slot], type_name)) count += per_slot[slot];
    }
    return count;
}

py::list EntryTable::type_rules() const {
    const Names& n = names();
    const std::vector<std::int64_t> per_slot = live_counts_by_slot();
    // Keyed by name with the interpreter's key equality.
    py::dict counts;
    for (std::size_t slot = 0; slot < type_names_.size(); ++slot) {
        if (per_slot[slot] == 0) continue;
        PyObject* name = type_names_[slot].ptr();
        PyObject* known = PyDict_GetItemWithError(counts.ptr(), name);
        if (known == nullptr && PyErr_Occurred()) throw py::error_already_set();
        const long long before = known != nullptr ? PyLong_AsLongLong(known) : 0;
        set_item(counts.ptr(), name, py::int_(before + per_slot[slot]).ptr());
    }

    py::list result;
    auto append_group = [&](RuleList which, PyObject* mode) {
        for (py::handle name : sorted_rules(which)) {
            PyObject* count = PyDict_GetItemWithError(counts.ptr(), name.ptr());
            if (count == nullptr && PyErr_Occurred()) throw py::error_already_set();
            py::object live = count != nullptr ? borrow(count) : steal(PyLong_FromLong(0));
            py::object row = steal(PyTuple_Pack(3, name.ptr(), mode, live.ptr()));
            if (PyList_Append(result.ptr(), row.ptr()) < 0) throw py::error_already_set();
        }
    };
    append_group(RuleList::NamesToDendrify, n.dendrified);
    append_group(RuleList::NamesToTrack, n.tracked);
    return result;
}

std::size_t EntryTable::type_rule_count() const {
    const std::size_t dendrify = py::len(sorted_rules(RuleList::NamesToDendrify));
    return dendrify + py::len(sorted_rules(RuleList::NamesToTrack));
}

ParameterTable& EntryTable::parameters() {
    if (!parameters_) {
        std::vector<PyObject*> modules;
        modules.reserve(rows_.size());
        for (std::size_t i = 0; i < rows_.size(); ++i) modules.push_back(field(i, Field::Module).ptr());
        parameters_ = std::make_unique<ParameterTable>(modules);
    }
    return *parameters_;
}

}  // namespace nvx::target
