#include "wrapper.hpp"

#include <limits>
#include <vector>

#include "checkpoint.hpp"
#include "common/functions.hpp"
#include "common/interp.hpp"
#include "common/module_namespace.hpp"
#include "module_globals.hpp"
#include "pycall.hpp"
#include "threaded_calls.hpp"

namespace nvx::clean {
namespace {

// The class object, kept alive by the module attribute that holds it.
PyObject* g_wrapper_class = nullptr;

constexpr const char* kClassName = "NVXModulePyThread";
constexpr const char* kLoadDoc =
    "Loads this module's entries of a state dict, also one saved from the wrapped layer before conversion.";

// A function placed in a class namespace so that it binds `self` like a
// method defined in Python.
py::object as_method(py::object function) {
    return steal(PyInstanceMethod_New(function.ptr()));
}

// TypeError "<text><culprit's class>", worded as the interpreter words it.
[[noreturn]] void raise_type_error(const char* text, py::handle culprit) {
    raise(PyExc_TypeError, text + type_name_in_messages(culprit.ptr()));
}

// The positional inputs of a call written `f(*inputs)`.
py::object as_positional(py::handle inputs) {
    if (PyTuple_CheckExact(inputs.ptr())) {
        return py::reinterpret_borrow<py::object>(inputs);
    }
    PyObject* tuple = PySequence_Tuple(inputs.ptr());
    if (tuple == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && !PySequence_Check(inputs.ptr()) &&
            PyObject_HasAttrString(inputs.ptr(), "__iter__") == 0) {
            PyErr_Clear();
            raise_type_error("argument after * must be an iterable, not ", inputs);
        }
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(tuple);
}

// A fresh dict of the keyword arguments of a call written `f(**options)`.
py::object as_keywords(py::handle options) {
    py::object copy = steal(PyDict_New());
    if (PyDict_Check(options.ptr())) {
        if (PyDict_Update(copy.ptr(), options.ptr()) < 0) {
            throw py::error_already_set();
        }
        return copy;
    }
    if (PyDict_Merge(copy.ptr(), options.ptr(), 1) < 0) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            raise_type_error("argument after ** must be a mapping, not ", options);
        }
        throw py::error_already_set();
    }
    return copy;
}

// The slot a worker fills, for ordering recorded failures (non-integers last).
Py_ssize_t slot_order(py::handle index) {
    const Py_ssize_t slot = PyLong_Check(index.ptr()) ? PyLong_AsSsize_t(index.ptr()) : -1;
    if (slot == -1 && PyErr_Occurred() != nullptr) {
        PyErr_Clear();
    }
    return slot < 0 ? std::numeric_limits<Py_ssize_t>::max() - 1 : slot;
}

// `super(NVXModulePyThread, self)`: torch.nn.Module's side of the wrapper.
py::object module_side(py::handle self) {
    return steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PySuper_Type), g_wrapper_class,
                                              self.ptr(), nullptr));
}

// ---------------------------------------------------------------------------
// __init__(self, original_module)
// ---------------------------------------------------------------------------
void initialise(Args& a) {
    const Names& n = names();
    py::handle self = a[0];
    py::handle original = a[1];

    steal(PyObject_CallMethod(module_side(self).ptr(), "__init__", nullptr));

    auto assign = [&](PyObject* name, py::handle value) {
        if (PyObject_SetAttr(self.ptr(), name, value.ptr()) < 0) {
            throw py::error_already_set();
        }
    };
    assign(n.layer_array, get_attr(original, n.layer_array));
    assign(n.processor_array, get_attr(original, n.processor_array));

    py::object skip = attribute_if_present(original, n.skip_weights);
    if (skip) {
        const Py_ssize_t count = PyObject_Size(skip.ptr());
        if (count < 0) {
            throw py::error_already_set();
        }
        if (count > 1) {
            py::object from_second = steal(PySlice_New(py::int_(1).ptr(), nullptr, nullptr));
            assign(n.skip_weights, steal(PyObject_GetItem(skip.ptr(), from_second.ptr())));
        }
    }

    py::object register_buffer = get_attr(self, n.register_buffer);
    py::object node_index = get_attr(original, n.node_index);
    py::object cloned = steal(PyObject_CallMethodNoArgs(node_index.ptr(), n.clone));
    py::object detached = steal(PyObject_CallMethodNoArgs(cloned.ptr(), n.detach));
    register_buffer("node_index", detached);
    register_buffer("num_cycles", get_attr(original, n.num_cycles));
    register_buffer("view_tuple", get_attr(original, n.view_tuple));
    record_state_left_behind(original, self);
}

// ---------------------------------------------------------------------------
// _load_from_state_dict(self, state_dict, prefix, ...): torch's loading of
// this module's own entries, after renaming those saved before conversion.
// ---------------------------------------------------------------------------
py::object load_from_state_dict(Args& a) {
    adapt_checkpoint(a[0], a[1], a[2]);
    py::object load = module_side(a[0]).attr("_load_from_state_dict");
    return load(a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
}

// ---------------------------------------------------------------------------
// process_and_forward(self, *args2, **kwargs2): dendrite layer args2[0]
// ---------------------------------------------------------------------------
void run_dendrite(py::handle self, py::handle index, py::handle outputs, py::handle inputs,
                  py::dict& options) {
    const Names& n = names();
    py::object processors = module_attr(self, n.processor_array);
    py::object processor = steal(PyObject_GetItem(processors.ptr(), index.ptr()));
    const bool processed = !processor.is_none();

    py::object call_inputs = py::reinterpret_borrow<py::object>(inputs);
    py::object call_options = options;
    if (processed) {
        py::object pre = get_attr(processor, n.pre);
        auto [new_inputs, new_options] = unpack_pair(call(pre, {}, inputs, options).ptr());
        call_inputs = as_positional(new_inputs);
        call_options = std::move(new_options);
    }
    py::object keywords = as_keywords(call_options);

    py::object layers = module_attr(self, n.layer_array);
    py::object layer;
    if (PyLong_CheckExact(index.ptr())) {
        const Py_ssize_t at = PyLong_AsSsize_t(index.ptr());
        if (at == -1 && PyErr_Occurred() != nullptr) {
            PyErr_Clear();
        } else {
            layer = container_item(layers, at);
        }
    }
    if (!layer) {
        layer = steal(PyObject_GetItem(layers.ptr(), index.ptr()));
    }
    py::object out = call(layer, {}, call_inputs, keywords);
    if (processed) {
        out = steal(PyObject_CallMethodOneArg(processor.ptr(), n.post, out.ptr()));
    }
    if (PyObject_SetItem(outputs.ptr(), index.ptr(), out.ptr()) < 0) {
        throw py::error_already_set();
    }
}

py::object process_and_forward(Args& a, py::tuple& args, py::dict& kwargs) {
    if (PyTuple_GET_SIZE(args.ptr()) < 2) {
        throw py::index_error("tuple index out of range");
    }
    py::handle index = PyTuple_GET_ITEM(args.ptr(), 0);
    py::handle outputs = PyTuple_GET_ITEM(args.ptr(), 1);
    run_slot_work(outputs, slot_order(index), [&] {
        py::object inputs = steal(PyTuple_GetSlice(args.ptr(), 2, PY_SSIZE_T_MAX));
        run_dendrite(a[0], index, outputs, inputs, kwargs);
    });
    return py::none();
}

// ---------------------------------------------------------------------------
// process_and_pre(self, *args, **kwargs): the main layer
// ---------------------------------------------------------------------------
py::object process_and_pre(Args& a, py::tuple& args, py::dict& kwargs) {
    if (PyTuple_GET_SIZE(args.ptr()) < 1) {
        throw py::index_error("tuple index out of range");
    }
    const Names& n = names();
    py::handle self = a[0];
    py::handle outputs = PyTuple_GET_ITEM(args.ptr(), 0);
    run_slot_work(outputs, std::numeric_limits<Py_ssize_t>::max(), [&] {
        py::object inputs = steal(PyTuple_GetSlice(args.ptr(), 1, PY_SSIZE_T_MAX));
        py::object layers = module_attr(self, n.layer_array);
        py::object main_forward = get_attr(container_item(layers, -1), n.forward);
        py::object out = call(main_forward, {}, inputs, kwargs);
        py::object processor = get_index(module_attr(self, n.processor_array), -1);
        if (!processor.is_none()) {
            out = steal(PyObject_CallMethodOneArg(processor.ptr(), n.pre, out.ptr()));
        }
        const Py_ssize_t count = container_len(layers);
        set_index(outputs, count - 1, out);
    });
    return py::none();
}

// ---------------------------------------------------------------------------
// forward(self, *args, **kwargs)
// ---------------------------------------------------------------------------

// Runs every sub-layer on a thread of its own: all threads are created, then
// started in index order, then joined in the same order.
void run_threaded(py::handle self, py::handle outputs, Py_ssize_t count, py::tuple& args, py::dict& kwargs) {
    const Names& n = names();
    ThreadedCall waiting_call(outputs);
    py::object thread_class = module_global(Global::Thread);
    py::object dendrite_target = get_attr(self, n.process_and_forward);
    py::object main_target = get_attr(self, n.process_and_pre);

    auto make_thread = [&](py::handle target, std::initializer_list<PyObject*> lead) {
        py::object thread_args =
            steal(PyTuple_New(static_cast<Py_ssize_t>(lead.size()) + PyTuple_GET_SIZE(args.ptr())));
        Py_ssize_t at = 0;
        for (PyObject* item : lead) {
            PyTuple_SET_ITEM(thread_args.ptr(), at++, Py_NewRef(item));
        }
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args.ptr()); ++i) {
            PyTuple_SET_ITEM(thread_args.ptr(), at++, Py_NewRef(PyTuple_GET_ITEM(args.ptr(), i)));
        }
        PyObject* stack[] = {target.ptr(), thread_args.ptr(), kwargs.ptr()};
        return steal(PyObject_Vectorcall(thread_class.ptr(), stack, 0, names().thread_kwnames));
    };

    std::vector<py::object> threads;
    threads.reserve(static_cast<size_t>(count > 0 ? count : 1));
    for (Py_ssize_t i = 0; i < count - 1; ++i) {
        py::object index = steal(PyLong_FromSsize_t(i));
        threads.push_back(make_thread(dendrite_target, {index.ptr(), outputs.ptr()}));
    }
    threads.push_back(make_thread(main_target, {outputs.ptr()}));

    size_t started = 0;
    try {
        for (; started < threads.size(); ++started) {
            steal(PyObject_CallMethodNoArgs(threads[started].ptr(), n.start));
        }
    } catch (py::error_already_set&) {
        // Wait for the threads already running before reporting the failed start.
        for (size_t i = 0; i < started; ++i) {
            PyObject* joined = PyObject_CallMethodNoArgs(threads[i].ptr(), n.join);
            if (joined == nullptr) {
                PyErr_Clear();
            }
            Py_XDECREF(joined);
        }
        throw;
    }
    for (auto& thread : threads) {
        steal(PyObject_CallMethodNoArgs(thread.ptr(), n.join));
    }
    waiting_call.raise_recorded();
}

py::object forward(Args& a, py::tuple& args, py::dict& kwargs) {
    const Names& n = names();
    py::handle self = a[0];
    const bool threaded = truthy(module_global(Global::DoingThreading));

    py::object layers = module_attr(self, n.layer_array);
    const Py_ssize_t count = container_len(layers);
    py::object outputs = steal(PyList_New(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyList_SET_ITEM(outputs.ptr(), i, Py_NewRef(Py_None));
    }

    if (!threaded) {
        py::object dendrite = get_attr(self, n.process_and_forward);
        for (Py_ssize_t i = 0; i < count - 1; ++i) {
            py::object index = steal(PyLong_FromSsize_t(i));
            call(dendrite, {index.ptr(), outputs.ptr()}, args, kwargs);
        }
        call(get_attr(self, n.process_and_pre), {outputs.ptr()}, args, kwargs);
    } else {
        run_threaded(self, outputs, count, args, kwargs);
    }

    // Each output takes in the skip-weighted earlier outputs, which are already
    // in their final (activated) form; dendrite outputs are then activated.
    py::object skip;
    py::object view_shape;
    if (count > 1) {
        skip = module_attr_if_present(self, n.skip_weights);
        if (skip) {
            py::object view_tuple = module_attr(self, n.view_tuple);
            view_shape = steal(PyObject_CallMethodNoArgs(view_tuple.ptr(), n.tolist));
        }
    }
    py::object full_slice = skip ? steal(PySlice_New(nullptr, nullptr, nullptr)) : py::object();
    py::object current;
    for (Py_ssize_t out_index = 0; out_index < count; ++out_index) {
        current = get_index(outputs, out_index);
        if (skip && out_index > 0) {
            py::object weights = container_item(skip, out_index - 1);
            for (Py_ssize_t in_index = 0; in_index < out_index; ++in_index) {
                py::object row_key =
                    steal(PyTuple_Pack(2, steal(PyLong_FromSsize_t(in_index)).ptr(), full_slice.ptr()));
                py::object row = steal(PyObject_GetItem(weights.ptr(), row_key.ptr()));
                row = steal(PyObject_CallMethodOneArg(row.ptr(), n.view, view_shape.ptr()));
                py::object device = get_attr(current, n.device);
                row = steal(PyObject_CallMethodOneArg(row.ptr(), n.to, device.ptr()));
                py::object earlier = get_index(outputs, in_index);
                py::object term = steal(PyNumber_Multiply(row.ptr(), earlier.ptr()));
                current = steal(PyNumber_Add(current.ptr(), term.ptr()));
            }
        }
        if (out_index < count - 1) {
            py::object pc = get_attr(module_global(Global::GNV), n.pc);
            py::object activation = steal(PyObject_CallMethodNoArgs(pc.ptr(), n.get_nvx_forward_function));
            current = steal(PyObject_CallOneArg(activation.ptr(), current.ptr()));
        }
        set_index(outputs, out_index, current);
    }

    py::object processor = get_index(module_attr(self, n.processor_array), -1);
    if (!processor.is_none()) {
        current = steal(PyObject_CallMethodOneArg(processor.ptr(), n.post, current.ptr()));
    }
    return current ? current : py::none();
}

}  // namespace

py::object create_wrapper_class(const py::object& module_base) {
    py::dict ns;
    ns["__module__"] = py::str(module_name());
    ns["__qualname__"] = py::str(kClassName);
    ns["__init__"] =
        as_method(make_function("__init__", {"self", "original_module"}, nullptr, to_body(initialise)));
    ns["process_and_forward"] =
        as_method(make_variadic_function("process_and_forward", {"self"}, nullptr, process_and_forward));
    ns["process_and_pre"] =
        as_method(make_variadic_function("process_and_pre", {"self"}, nullptr, process_and_pre));
    ns["forward"] = as_method(make_variadic_function("forward", {"self"}, nullptr, forward));
    ns["_load_from_state_dict"] =
        as_method(make_function("_load_from_state_dict",
                                {"self", "state_dict", "prefix", "local_metadata", "strict", "missing_keys",
                                 "unexpected_keys", "error_msgs"},
                                kLoadDoc, load_from_state_dict));

    py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object cls = type(py::str(kClassName), py::make_tuple(module_base), ns);
    g_wrapper_class = cls.inc_ref().ptr();  // lives as long as the process
    return cls;
}

}  // namespace nvx::clean
