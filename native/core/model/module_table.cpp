#include "module_table.hpp"

namespace nvx::model {

const char* field_key(Field field) {
    switch (field) {
        case Field::Id:
            return "id";
        case Field::TypeName:
            return "type_name";
        case Field::Module:
            return "module";
        case Field::Depth:
            return "depth";
        case Field::DirectParamCount:
            return "direct_param_count";
        case Field::IsReplacedRoot:
            return "is_replaced_root";
        case Field::ReplacedRoot:
            return "replaced_root";
        case Field::InReplaced:
            return "in_replaced";
    }
    return "";
}

std::pair<const std::uint32_t*, const std::uint32_t*> ModuleTable::own_parameters(std::size_t row) const {
    modules.at(row, Field::Module);
    const std::uint32_t* base = parameters.members.data();
    return {base + parameters.offsets[row], base + parameters.offsets[row + 1]};
}

}  // namespace nvx::model
