#include "ParameterMap.h"

namespace hx::config {

const OptionList* optionList(char name) {
    for (const OptionList& list : kOptionLists) {
        if (list.name == name) return &list;
    }
    return nullptr;
}

const Parameter* parameterOfCombo(int n) {
    if (n < 1 || n > kComboCount) return nullptr;
    for (const Parameter& p : kParameters) {
        if (p.editor == Editor::List && p.combo == n) return &p;
    }
    return nullptr;
}

const Parameter* parameterOfRegister(int32_t reg) {
    const int32_t k = reg - kFirstRegister;
    if (k < 0 || k >= kParameterCount) return nullptr;
    return &kParameters[k];
}

} // namespace hx::config
