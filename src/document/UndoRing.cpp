#include "document/UndoRing.h"

#include "foundation/Text.h"

namespace sonitor {

void UndoRing::Empty(int slot) {
    Slot& s = slots_[Step(slot, 0)];
    s.name.clear();
    s.state = DocumentState{};
}

void UndoRing::Push(const DocumentState& state, const std::string& name) {
    index_ = Step(index_, 1);
    slots_[index_].state = state;
    slots_[index_].name = name;
    Empty(index_ + 1);
    Empty(index_ + 2);
}

std::optional<DocumentState> UndoRing::Undo(const DocumentState& current) {
    if (!CanUndo()) return std::nullopt;
    if (slots_[Step(index_, 1)].name.empty()) {
        // At the newest state: keep it so that Redo can come back to it.
        Push(current, "Redo");
        index_ = Step(index_, -1);
    }
    DocumentState restored = slots_[index_].state;
    index_ = Step(index_, -1);
    return restored;
}

std::optional<DocumentState> UndoRing::Redo() {
    if (!CanRedo()) return std::nullopt;
    DocumentState restored = slots_[Step(index_, 2)].state;
    index_ = Step(index_, 1);
    return restored;
}

std::string UndoRing::UndoMenuText() const { return Format("Undo %s\tCtrl+Z", slots_[index_].name.c_str()); }

std::string UndoRing::RedoMenuText() const {
    const char* name = CanRedo() ? slots_[Step(index_, 1)].name.c_str() : "";
    return Format("Redo %s\tCtrl+Y", name);
}

void UndoRing::Clear() {
    for (int i = 0; i < kSlots; ++i) Empty(i);
    index_ = 0;
}

}  // namespace sonitor
