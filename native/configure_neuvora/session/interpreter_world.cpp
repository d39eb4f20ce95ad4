#include "interpreter_world.hpp"

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

void InterpreterConfiguration::persist_outputs(bool as_default) {
    configuration().attr("persist_config_outputs")("overwrite_config_file"_a = as_default);
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
