#include "names.hpp"

#include "common/interp.hpp"

namespace nvx::target {

const Names& names() {
    static const Names table = [] {
        Names n{};
        n.id = intern("id");
        n.name = intern("name");
        n.type_name = intern("type_name");
        n.module = intern("module");
        n.depth = intern("depth");
        n.direct_param_count = intern("direct_param_count");
        n.tree_param_count = intern("tree_param_count");
        n.is_replaced_root = intern("is_replaced_root");
        n.replaced_root = intern("replaced_root");
        n.in_replaced = intern("in_replaced");
        n.eff = intern("eff");
        n.source = intern("source");
        n.origin_id = intern("origin_id");
        n.overridden = intern("overridden");
        n.mode = intern("mode");
        n.dendrified = intern("dendrified");
        n.tracked = intern("tracked");
        n.inherited = intern("inherited");
        n.id_source = n.id;
        n.type_source = intern("type");
        n.dot = intern(".");
        n.empty = intern("");
        n.remove_duplicate = intern("remove_duplicate");
        n.named_modules = intern("named_modules");
        n.named_parameters = intern("named_parameters");
        n.named_members = intern("_named_members");
        n.modules_attr = intern("_modules");
        n.parameters_attr = intern("_parameters");
        n.getattribute = intern("__getattribute__");
        n.hash = intern("__hash__");
        n.dunder_name = intern("__name__");
        return n;
    }();
    return table;
}

}  // namespace nvx::target
