#include "interpreter_world.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/functions.hpp"
#include "common/interp.hpp"
#include "configure_neuvora/seams.hpp"
#include "configure_neuvora/target_model/config_rules.hpp"
#include "configure_neuvora/terminal/resize_signal.hpp"
#include "configure_neuvora/terminal/text_adapters.hpp"
#include "core/session/session.hpp"
#include "core/text/no_color.hpp"

namespace nvx::configure {
namespace {

using namespace py::literals;

const char* const kClearScreen = "\x1b[2J\x1b[H";

// The rule lists of `GNV.pc` as one pass reads them, their values kept in a
// pool layered over the model table's, so the table's names and theirs meet
// in one oracle.
class PassRules final : public session::RuleLists {
public:
    explicit PassRules(const target::ObjectPool& table_pool) : pool_(&table_pool), rules_(pool_) {}
    model::RuleList fetch(model::RuleKind which) override { return rules_.fetch(which); }
    void store(model::RuleKind which, const std::vector<model::Name>& values) override {
        rules_.store(which, values);
    }
    model::NameOracle& oracle() override { return rules_.oracle(); }

private:
    target::ObjectPool pool_;
    target::ConfigRules rules_;
};

// What a save may change in `GNV.pc`, taken when the save begins.
class ConfigurationCheckpoint final : public session::SaveCheckpoint {
public:
    ConfigurationCheckpoint() {
        const py::object pc = configuration();
        const py::object attributes = pc.attr("__dict__");
        had_config_file_ = contains(attributes, config_file_key());
        if (had_config_file_) config_file_ = attributes[config_file_key()];
        if (const py::object read = confirmation_reader(pc); !read.is_none()) confirmed_ = read();
    }

    void restore() override {
        const py::object pc = configuration();
        py::object attributes = pc.attr("__dict__");
        if (had_config_file_) {
            attributes[config_file_key()] = config_file_;
        } else if (contains(attributes, config_file_key())) {
            attributes.attr("__delitem__")(config_file_key());
        }
        if (!confirmed_) return;
        const py::object read = confirmation_reader(pc);
        if (!read.is_none() && truthy(read()) != truthy(*confirmed_)) {
            pc.attr("set_configuration_confirmed")(*confirmed_);
        }
    }

private:
    static py::str config_file_key() { return py::str("_config_file"); }

    // `get_configuration_confirmed` when the object has a callable one, else None.
    static py::object confirmation_reader(const py::object& pc) {
        py::object read = py::getattr(pc, "get_configuration_confirmed", py::none());
        return PyCallable_Check(read.ptr()) ? read : py::none();
    }

    bool had_config_file_ = false;
    py::object config_file_;
    std::optional<py::object> confirmed_;
};

}  // namespace

// The model's entries read into the table once.
class InterpreterWorld::Entries final : public session::ModelSource {
public:
    Entries(const py::object& entries, const py::object& model) : reader_(entries) {
        using model::Field;
        reader_.load({Field::Id, Field::TypeName, Field::Depth, Field::DirectParamCount,
                      Field::IsReplacedRoot, Field::InReplaced, Field::ReplacedRoot});
        reader_.load_parents();
        reader_.load_model_parameters(model);
    }

    const model::ModuleTable& table() override { return reader_.table(); }
    model::NameOracle& oracle() override { return reader_.oracle(); }
    void load_class_uses() override { reader_.load_class_uses(); }

    std::pair<std::string, std::string> folded_names(std::size_t row) override {
        const model::ModuleTable& rows = reader_.table();
        return {rows.ids.present(row) ? folded(rows.ids.values[row]) : std::string(),
                rows.type_slots.present(row) ? folded(rows.type_name(row)) : std::string()};
    }

    target::EntryReader& reader() { return reader_; }

private:
    // `str(name).casefold()` in UTF-8.
    std::string folded(const model::Name& name) {
        static PyObject* const casefold = intern("casefold");
        const py::object text = to_str(reader_.oracle().object_of(name));
        const py::object folded_text = steal(PyObject_CallMethodNoArgs(text.ptr(), casefold));
        Py_ssize_t length = 0;
        const char* bytes = PyUnicode_AsUTF8AndSize(folded_text.ptr(), &length);
        if (bytes == nullptr) {
            PyErr_Clear();  // lone surrogates have no UTF-8 form: such a name matches nothing
            return {};
        }
        return std::string(bytes, static_cast<std::size_t>(length));
    }

    target::EntryReader reader_;
};

layout::TerminalSize InterpreterTerminal::size() {
    // The frame is drawn at the size read now: a resize noted before it is seen.
    resize::take_noted();
    return read_terminal_size();
}

std::optional<session::Key> InterpreterTerminal::read_key() {
    // A terminal that went away reads as empty input forever; end the session
    // instead of spinning on it.
    constexpr int kEmptyReadsBeforeEof = 16;
    // Resized while the frame was drawn: draw it again for the new size.
    if (resize::take_noted()) return std::nullopt;
    py::object key;
    try {
        resize::KeyWait wait;
        wait.check_now();
        key = call_seam(Seam::ReadSingleKey);
    } catch (py::error_already_set& error) {
        if (!resize::interrupted(error)) throw;
        return std::nullopt;
    }
    const bool text = is_str(key);
    empty_reads_ = text && py::len(key) == 0 ? empty_reads_ + 1 : 0;
    if (empty_reads_ >= kEmptyReadsBeforeEof) raise(PyExc_EOFError, "no more key input: the terminal closed");
    if (!text) return session::Key();
    return session::Key(to_u32(key));
}

void InterpreterTerminal::show_frame(const std::u32string& frame) {
    print_text(py::str(kClearScreen), "");
    print_text(from_u32(style::for_terminal(frame)));
}

void InterpreterTerminal::enter_alternate_screen() {
    call_seam(Seam::EnterAlternateScreen);
    on_alternate_screen_ = true;
}

void InterpreterTerminal::exit_alternate_screen() {
    call_seam(Seam::ExitAlternateScreen);
    on_alternate_screen_ = false;
}

void InterpreterTerminal::print_line(const std::u32string& line) {
    print_text(from_u32(line));
}

std::u32string InterpreterTerminal::input_line(const std::u32string& prompt) {
    return to_u32(to_str(call_seam(Seam::Input, from_u32(prompt)).attr("strip")()));
}

void InterpreterTerminal::await_enter(const std::u32string& prompt) {
    call_seam(Seam::Input, from_u32(prompt));
}

bool InterpreterConfiguration::has_config_file() {
    return truthy(configuration().attr("get_config_file")());
}

std::u32string InterpreterConfiguration::save_name() {
    py::object name = configuration().attr("get_save_name")();
    return truthy(name) ? to_u32(to_str(name)) : U"NVX";
}

std::u32string InterpreterConfiguration::config_target_path() {
    return to_u32(to_str(call_seam(Seam::ConfigTargetPath)));
}

void InterpreterConfiguration::set_config_file(const std::u32string& path) {
    configuration().attr("__dict__")["_config_file"] = from_u32(path);
}

void InterpreterConfiguration::confirm() {
    configuration().attr("set_configuration_confirmed")(true);
}

settings::WriteOutcome InterpreterConfiguration::persist_outputs(bool as_default) {
    return refused_write(
        [&] { configuration().attr("persist_config_outputs")("overwrite_config_file"_a = as_default); });
}

std::unique_ptr<session::SaveCheckpoint> InterpreterConfiguration::checkpoint() {
    return std::make_unique<ConfigurationCheckpoint>();
}

session::PathFacts InterpreterFileSystem::facts(const std::u32string& typed) {
    using session::PathFacts;
    const py::object os = seam(Seam::Os);
    const py::object os_path = os.attr("path");
    const py::str path = from_u32(typed);
    const auto exists = [&](const py::handle& at) { return truthy(os_path.attr("exists")(at)); };

    PathFacts facts;
    if (truthy(os_path.attr("isdir")(path))) {
        facts.entry = PathFacts::Entry::Directory;
        return facts;
    }
    if (exists(path)) {
        facts.entry = PathFacts::Entry::File;
        try {
            const py::object document = read_json_file(path);
            if (!is_dict(document)) {
                facts.content = PathFacts::Content::OtherJson;
                facts.content_detail = to_u32(py::str(py::type::handle_of(document).attr("__name__")));
            }
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_Exception)) throw;
            const bool malformed = error.matches(PyExc_ValueError) || error.matches(PyExc_RecursionError);
            facts.content = malformed ? PathFacts::Content::Malformed : PathFacts::Content::Unreadable;
            facts.content_detail = to_u32(py::str(error.value()));
        }
        facts.file_writable = truthy(os.attr("access")(path, os.attr("W_OK")));
    }
    // The nearest folder above the path that exists; none is created here.
    py::object folder = os_path.attr("dirname")(path);
    py::object existing = folder;
    while (truthy(existing) && !exists(existing)) {
        py::object above = os_path.attr("dirname")(existing);
        if (above.equal(existing)) break;
        existing = std::move(above);
    }
    facts.folder = to_u32(to_str(folder));
    facts.existing_folder = to_u32(to_str(existing));
    const py::object at = truthy(existing) ? existing : py::object(py::str("."));  // "" is the working folder
    facts.existing_is_directory = truthy(os_path.attr("isdir")(at));
    facts.existing_writable = truthy(os.attr("access")(at, os.attr("W_OK") | os.attr("X_OK")));
    return facts;
}

std::unique_ptr<session::RuleLists> InterpreterWorld::rule_lists() {
    static const target::ObjectPool no_table;
    return std::make_unique<PassRules>(table_ ? table_->reader().pool() : no_table);
}

std::size_t InterpreterWorld::read_entries() {
    entries_ = py::list(call_seam(Seam::GetModuleEntries, model_));
    return py::len(entries_);
}

session::ModelSource& InterpreterWorld::model() {
    if (!table_) table_ = std::make_unique<Entries>(entries_, model_);
    return *table_;
}

void InterpreterWorld::print_model() {
    call_seam(Seam::Print, model_);
}

session::Outcome InterpreterWorld::run(session::Session& session) {
    try {
        return session.run();
    } catch (py::error_already_set&) {
        throw;
    } catch (const model::FieldError& error) {
        // A cell of an entry that a rule read and could not use.
        table_->reader().raise(error);
    } catch (...) {
        raise_current_exception();
    }
}

}  // namespace nvx::configure
