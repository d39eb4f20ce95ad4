#include "module_entries.hpp"

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "common/interp.hpp"
#include "common/torch_calls.hpp"
#include "configure_neuvora/seams.hpp"
#include "core/model/flat_map.hpp"
#include "core/model/module_ids.hpp"
#include "lazy_parameters.hpp"
#include "names.hpp"
#include "torch_access.hpp"

namespace nvx::target {
namespace {

// The values of one entry before the replaced-root marking.
struct EntryValues {
    py::object id;
    py::object name;
    py::object type_name;
    py::object module;
    py::object depth;
    py::object direct;
    py::object tree;
};

// ---------------------------------------------------------------------------
// Counting through the public calls
// ---------------------------------------------------------------------------

// Sum of `numel()` over `module.named_parameters(recurse=...)`.
py::object public_param_count(PyObject* module, bool recurse) {
    const Names& n = names();
    py::object method = steal(PyObject_GetAttr(module, n.named_parameters));
    py::object iterator = iterate_named_parameters(method.ptr(), recurse);
    Sum total;
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object pair = steal(item);
        auto [name, parameter] = unpack_pair(pair.ptr());
        py::object count = numel_of(parameter.ptr());
        total.add(count.ptr());
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return total.value();
}

py::object type_name_of(PyObject* module) {
    return steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(module)), names().dunder_name));
}

// Every step through the interpreter, exactly as the public calls go.
std::vector<EntryValues> collect_through_public_calls(const py::object& model) {
    const Names& n = names();
    std::vector<EntryValues> out;
    py::object method = steal(PyObject_GetAttr(model.ptr(), n.named_modules));
    py::dict kwargs;
    kwargs[n.remove_duplicate] = py::bool_(false);
    py::object pairs = steal(PyObject_Call(method.ptr(), py::tuple().ptr(), kwargs.ptr()));
    py::object iterator = steal(PyObject_GetIter(pairs.ptr()));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object pair = steal(item);
        auto [path, module] = unpack_pair(pair.ptr());
        if (py_eq(path.ptr(), n.empty)) {
            continue;
        }
        EntryValues v;
        v.id = steal(PyNumber_Add(n.dot, path.ptr()));
        v.name = path;
        v.type_name = type_name_of(module.ptr());
        v.module = module;
        v.depth = steal(PyObject_CallMethodOneArg(path.ptr(), py::str("count").ptr(), n.dot));
        v.direct = public_param_count(module.ptr(), false);
        v.tree = public_param_count(module.ptr(), true);
        out.push_back(std::move(v));
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return out;
}

// ---------------------------------------------------------------------------
// Counting from torch's own bookkeeping
// ---------------------------------------------------------------------------

// Walks `_modules` / `_parameters` directly and derives every count from one pass
// over the distinct modules and parameters. Returns false (and no values) when
// any object on the way is not plain torch bookkeeping; the caller then takes the
// public calls, which give the interpreter's own answer (including its errors).
class DirectWalk {
public:
    explicit DirectWalk(TorchAccess& torch) : torch_(torch) {}

    bool run(const py::object& model, std::vector<EntryValues>& out) {
        if (!walk(model.ptr())) {
            return false;
        }
        if (!count_parameters()) {
            return false;
        }
        if (!subtree_counts()) {
            return false;
        }
        emit(out);
        return true;
    }

private:
    struct Node {
        py::object path;
        int parent;
        int module;
    };
    struct ModuleRecord {
        py::object object;
        std::vector<int> nodes;       // every path it is reachable under
        std::vector<int> parameters;  // distinct own parameters, in order
        bool own_walk_standard = false;
        bool on_path = false;  // an ancestor of the node being walked
        std::int64_t own_count = 0;
        std::int64_t exclusive_count = 0;  // own parameters no other module holds
    };
    struct ParameterRecord {
        py::object object;
        int owner = -1;
        int last_module = -1;
        bool shared = false;  // held by more than one module object
        std::int64_t numel = 0;
    };

    int module_index(PyObject* module, const TorchAccess::View& view) {
        auto [slot, inserted] = module_index_.insert(module, static_cast<int>(modules_.size()));
        if (!inserted) {
            return *slot;
        }
        ModuleRecord record;
        record.object = borrow(module);
        record.own_walk_standard = view.own_walk_standard;
        const int index = *slot;
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(view.parameters, &pos, &key, &value)) {
            if (value == Py_None) {
                continue;
            }
            if (!torch_.hashes_by_identity(value)) {
                return -1;
            }
            auto [known, fresh] = parameter_index_.insert(value, static_cast<int>(parameters_.size()));
            const int parameter = *known;
            if (fresh) {
                ParameterRecord p;
                p.object = borrow(value);
                p.owner = index;
                parameters_.push_back(std::move(p));
            }
            ParameterRecord& p = parameters_[parameter];
            if (p.last_module == index) {
                continue;  // registered twice on the same module
            }
            if (p.owner != index) {
                p.shared = true;
            }
            p.last_module = index;
            record.parameters.push_back(parameter);
        }
        modules_.push_back(std::move(record));
        return index;
    }

    // Pre-order over `_modules`, as `named_modules(remove_duplicate=False)` yields.
    bool walk(PyObject* model) {
        struct Frame {
            int node;
            PyObject* children;
            Py_ssize_t pos;
        };
        TorchAccess::View view;
        if (!torch_.view(model, view)) {
            return false;
        }
        const int root_module = module_index(model, view);
        if (root_module < 0) {
            return false;
        }
        nodes_.push_back(Node{borrow(names().empty), -1, root_module});
        modules_[root_module].nodes.push_back(0);
        std::vector<Frame> stack{Frame{0, view.children, 0}};
        modules_[root_module].on_path = true;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            PyObject* key = nullptr;
            PyObject* child = nullptr;
            if (!PyDict_Next(frame.children, &frame.pos, &key, &child)) {
                modules_[nodes_[frame.node].module].on_path = false;
                stack.pop_back();
                continue;
            }
            if (child == Py_None) {
                continue;
            }
            // A module inside itself never ends; the public walk reports it.
            if (!PyUnicode_CheckExact(key) || !torch_.view(child, view)) {
                return false;
            }
            const int module = module_index(child, view);
            if (module < 0 || modules_[module].on_path) {
                return false;
            }
            const Node& parent = nodes_[frame.node];
            py::object path;
            if (PyUnicode_GET_LENGTH(parent.path.ptr()) == 0) {
                path = borrow(key);
            } else {
                py::object with_dot = steal(PyUnicode_Concat(parent.path.ptr(), names().dot));
                path = steal(PyUnicode_Concat(with_dot.ptr(), key));
            }
            const int node = static_cast<int>(nodes_.size());
            const int parent_node = frame.node;
            nodes_.push_back(Node{std::move(path), parent_node, module});
            modules_[module].nodes.push_back(node);
            modules_[module].on_path = true;
            stack.push_back(Frame{node, view.children, 0});  // invalidates `frame`
        }
        return true;
    }

    bool count_parameters() {
        for (ParameterRecord& p : parameters_) {
            py::object count = numel_of(p.object.ptr());
            if (!PyLong_CheckExact(count.ptr())) {
                return false;
            }
            int overflow = 0;
            const long long value = PyLong_AsLongLongAndOverflow(count.ptr(), &overflow);
            if (overflow != 0 || (value == -1 && PyErr_Occurred())) {
                PyErr_Clear();
                return false;
            }
            p.numel = value;
        }
        for (ModuleRecord& m : modules_) {
            for (int index : m.parameters) {
                const ParameterRecord& p = parameters_[index];
                if (__builtin_add_overflow(m.own_count, p.numel, &m.own_count)) return false;
                if (!p.shared && __builtin_add_overflow(m.exclusive_count, p.numel, &m.exclusive_count)) {
                    return false;
                }
            }
        }
        return true;
    }

    // Adds `amount` once to every node on the paths from `starts` up to the root.
    bool add_to_ancestors(const std::vector<int>& starts, std::int64_t amount, int stamp) {
        for (int start : starts) {
            for (int node = start; node >= 0 && stamp_[node] != stamp; node = nodes_[node].parent) {
                stamp_[node] = stamp;
                if (__builtin_add_overflow(extra_[node], amount, &extra_[node])) return false;
            }
        }
        return true;
    }

    // The tree count of a node is the sum over the distinct parameters of all the
    // modules below it. Parameters of a module that sits under exactly one path
    // roll up bottom-up; those of modules under several paths, and parameters held
    // by several modules, are added once to each node that has them below it.
    bool subtree_counts() {
        const std::size_t count = nodes_.size();
        tree_.assign(count, 0);
        extra_.assign(count, 0);
        stamp_.assign(count, -1);
        int stamp = 0;
        for (const ModuleRecord& m : modules_) {
            if (m.nodes.size() == 1) {
                tree_[m.nodes[0]] = m.exclusive_count;
            } else if (m.exclusive_count != 0 && !add_to_ancestors(m.nodes, m.exclusive_count, stamp++)) {
                return false;
            }
        }
        std::vector<std::vector<int>> holders;  // modules holding each shared parameter
        std::vector<int> starts;
        for (std::size_t index = 0; index < parameters_.size(); ++index) {
            const ParameterRecord& p = parameters_[index];
            if (!p.shared || p.numel == 0) {
                continue;
            }
            if (holders.empty()) {
                holders.resize(parameters_.size());
                for (std::size_t m = 0; m < modules_.size(); ++m) {
                    for (int held : modules_[m].parameters) {
                        if (parameters_[held].shared) holders[held].push_back(static_cast<int>(m));
                    }
                }
            }
            starts.clear();
            for (int module : holders[index]) {
                starts.insert(starts.end(), modules_[module].nodes.begin(), modules_[module].nodes.end());
            }
            if (!add_to_ancestors(starts, p.numel, stamp++)) {
                return false;
            }
        }
        for (std::size_t i = count; i-- > 1;) {
            const int parent = nodes_[i].parent;
            if (__builtin_add_overflow(tree_[parent], tree_[i], &tree_[parent])) return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (__builtin_add_overflow(tree_[i], extra_[i], &tree_[i])) return false;
        }
        return true;
    }

    void emit(std::vector<EntryValues>& out) {
        std::unordered_map<PyTypeObject*, py::object> type_names;
        PyTypeObject* last_type = nullptr;
        py::object last_type_name;
        out.reserve(nodes_.size());
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            const Node& node = nodes_[i];
            if (PyUnicode_GET_LENGTH(node.path.ptr()) == 0) {
                continue;  // the model itself
            }
            const ModuleRecord& m = modules_[node.module];
            PyObject* module = m.object.ptr();
            EntryValues v;
            v.id = steal(PyUnicode_Concat(names().dot, node.path.ptr()));
            v.name = node.path;
            if (Py_TYPE(module) != last_type) {
                auto found = type_names.find(Py_TYPE(module));
                if (found == type_names.end()) {
                    found = type_names.emplace(Py_TYPE(module), type_name_of(module)).first;
                }
                last_type = Py_TYPE(module);
                last_type_name = found->second;
            }
            v.type_name = last_type_name;
            v.module = m.object;
            v.depth =
                steal(PyLong_FromSsize_t(PyUnicode_Count(node.path.ptr(), names().dot, 0, PY_SSIZE_T_MAX)));
            if (m.own_walk_standard) {
                v.direct = steal(PyLong_FromLongLong(m.own_count));
                v.tree = steal(PyLong_FromLongLong(tree_[i]));
            } else {
                v.direct = public_param_count(module, false);
                v.tree = public_param_count(module, true);
            }
            out.push_back(std::move(v));
        }
    }

    TorchAccess& torch_;
    std::vector<Node> nodes_;
    std::vector<ModuleRecord> modules_;
    std::vector<ParameterRecord> parameters_;
    model::IdentityMap<int> module_index_;
    model::IdentityMap<int> parameter_index_;
    std::vector<std::int64_t> tree_;
    std::vector<std::int64_t> extra_;
    std::vector<int> stamp_;
};

// ---------------------------------------------------------------------------
// Replaced roots
// ---------------------------------------------------------------------------

// Per entry, the index (into `root_ids`) of the outermost replaced root it lies in.
std::vector<long> enclosing_roots(const std::vector<EntryValues>& values,
                                  const std::vector<py::object>& root_ids) {
    std::vector<long> result(values.size(), -1);
    if (root_ids.empty()) {
        return result;
    }
    std::vector<std::string_view> ids(values.size());
    std::vector<std::string_view> roots(root_ids.size());
    bool plain = true;
    for (std::size_t i = 0; plain && i < values.size(); ++i) {
        plain = PyUnicode_CheckExact(values[i].id.ptr()) && utf8_view(values[i].id.ptr(), ids[i]);
    }
    for (std::size_t i = 0; plain && i < root_ids.size(); ++i) {
        plain = PyUnicode_CheckExact(root_ids[i].ptr()) && utf8_view(root_ids[i].ptr(), roots[i]);
    }
    if (plain) {
        return model::first_enclosing_root(ids, roots);
    }
    // Ids that are not plain text: `entry_id.startswith(root_id + ".")` in order.
    const Names& n = names();
    std::vector<py::object> prefixes;
    for (const py::object& root : root_ids) {
        prefixes.push_back(steal(PyNumber_Add(root.ptr(), n.dot)));
    }
    py::str startswith("startswith");
    for (std::size_t i = 0; i < values.size(); ++i) {
        for (std::size_t r = 0; r < prefixes.size(); ++r) {
            py::object hit =
                steal(PyObject_CallMethodOneArg(values[i].id.ptr(), startswith.ptr(), prefixes[r].ptr()));
            if (truthy(hit.ptr())) {
                result[i] = static_cast<long>(r);
                break;
            }
        }
    }
    return result;
}

py::list build_entry_list(std::vector<EntryValues>& values) {
    const Names& n = names();
    const std::size_t count = values.size();
    py::list entries = steal(PyList_New(static_cast<Py_ssize_t>(count)));
    std::vector<PyObject*> dicts(count);
    for (std::size_t i = 0; i < count; ++i) {
        const EntryValues& v = values[i];
        PyObject* entry = steal(PyDict_New()).release().ptr();              // owned by the list below
        PyList_SET_ITEM(entries.ptr(), static_cast<Py_ssize_t>(i), entry);  // owned by the list
        dicts[i] = entry;
        if (PyDict_SetItem(entry, n.id, v.id.ptr()) < 0 || PyDict_SetItem(entry, n.name, v.name.ptr()) < 0 ||
            PyDict_SetItem(entry, n.type_name, v.type_name.ptr()) < 0 ||
            PyDict_SetItem(entry, n.module, v.module.ptr()) < 0 ||
            PyDict_SetItem(entry, n.depth, v.depth.ptr()) < 0 ||
            PyDict_SetItem(entry, n.direct_param_count, v.direct.ptr()) < 0 ||
            PyDict_SetItem(entry, n.tree_param_count, v.tree.ptr()) < 0) {
            throw py::error_already_set();
        }
    }

    py::object config = configure::configuration();
    py::object replace = config.attr("get_modules_to_replace")();
    py::object classes = steal(PySequence_Tuple(replace.ptr()));
    const bool any_classes = PyTuple_GET_SIZE(classes.ptr()) > 0;

    std::vector<bool> is_root(count, false);
    std::vector<py::object> root_ids;
    if (any_classes) {
        for (std::size_t i = 0; i < count; ++i) {
            const int hit = PyObject_IsInstance(values[i].module.ptr(), classes.ptr());
            if (hit < 0) {
                throw py::error_already_set();
            }
            is_root[i] = hit != 0;
            if (is_root[i]) {
                root_ids.push_back(values[i].id);
            }
        }
    }
    const std::vector<long> enclosing = enclosing_roots(values, root_ids);
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* entry = dicts[i];
        const long root = enclosing[i];
        if (PyDict_SetItem(entry, n.is_replaced_root, is_root[i] ? Py_True : Py_False) < 0 ||
            PyDict_SetItem(entry, n.replaced_root, root >= 0 ? root_ids[root].ptr() : Py_None) < 0 ||
            PyDict_SetItem(entry, n.in_replaced, root >= 0 ? Py_True : Py_False) < 0) {
            throw py::error_already_set();
        }
    }
    return entries;
}

py::object build_module_entries(const py::object& model) {
    // A hundred thousand new entry dicts would otherwise set off the cyclic
    // collector many times over (each time re-scanning the model's own objects).
    // Nothing built here can form a cycle on its own; collection resumes after.
    GcPause pause;
    std::vector<EntryValues> values;
    TorchAccess torch;
    bool direct = false;
    if (torch.available()) {
        DirectWalk walk(torch);
        direct = walk.run(model, values);
    }
    if (!direct) {
        values = collect_through_public_calls(model);
    }
    return build_entry_list(values);
}

}  // namespace

py::object get_module_entries(const py::object& model) {
    try {
        return build_module_entries(model);
    } catch (py::error_already_set& error) {
        // Counting a lazy module's parameters fails with torch's own message,
        // which does not say what to do about it.
        if (error.matches(PyExc_Exception)) explain_uninitialized_parameters(model, error);
        throw;
    }
}

py::object get_parent_module_id(const py::object& module_id) {
    PyObject* id = module_id.ptr();
    if (PyUnicode_CheckExact(id)) {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(id);
        const Py_ssize_t first = PyUnicode_FindChar(id, '.', 0, length, 1);
        if (first == -2) throw py::error_already_set();
        const Py_ssize_t last = PyUnicode_FindChar(id, '.', 0, length, -1);
        if (last == -2) throw py::error_already_set();
        if (first < 0 || first == last) {
            return py::none();
        }
        if (first == 0) {
            return steal(PyUnicode_Substring(id, 0, last));
        }
        py::object middle = steal(PyUnicode_Substring(id, first + 1, last));
        return steal(PyUnicode_Concat(names().dot, middle.ptr()));
    }
    // Anything else goes through its own `split` and `join`, as text would.
    const Names& n = names();
    py::object pieces = steal(PyObject_CallMethod(id, "split", "O", n.dot));
    const Py_ssize_t count = PyObject_Length(pieces.ptr());
    if (count < 0) throw py::error_already_set();
    if (count <= 2) {
        return py::none();
    }
    py::object inner = steal(PySequence_GetSlice(pieces.ptr(), 1, count - 1));
    py::object joined = steal(PyObject_CallMethod(n.dot, "join", "O", inner.ptr()));
    return steal(PyNumber_Add(n.dot, joined.ptr()));
}

py::list dedupe_list(const py::object& values) {
    py::list result;
    py::object seen = steal(PySet_New(nullptr));
    py::object iterator = steal(PyObject_GetIter(values.ptr()));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
        py::object value = steal(item);
        const int known = PySet_Contains(seen.ptr(), value.ptr());
        if (known < 0) {
            throw py::error_already_set();
        }
        if (known == 0) {
            if (PySet_Add(seen.ptr(), value.ptr()) < 0 || PyList_Append(result.ptr(), value.ptr()) < 0) {
                throw py::error_already_set();
            }
        }
    }
    if (PyErr_Occurred()) {
        throw py::error_already_set();
    }
    return result;
}

}  // namespace nvx::target
