#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "document/AudioClip.h"

namespace sonitor {

// What an undo slot keeps of a document: the segment list (sharing its
// working files, so no samples are copied), the modified flag, the
// selection, the cursor and the view.
struct DocumentState {
    AudioClip clip;
    bool modified = false;
    int32_t selectionStart = 0;
    int32_t selectionEnd = 0;
    int32_t cursor = 0;
    int32_t viewStart = 0;
    int32_t viewEnd = 0;
};

// A document's ring of eight undo slots. Index u is the slot of the newest
// undoable state; an empty name marks an empty slot. Every push empties the
// two slots ahead of it, which drops the redo history and leaves room for
// the state that the first undo saves under "Redo".
class UndoRing {
public:
    static constexpr int kSlots = 8;

    // Saves the state before an action called name.
    void Push(const DocumentState& state, const std::string& name);

    bool CanUndo() const { return !slots_[index_].name.empty(); }
    bool CanRedo() const { return !slots_[Step(index_, 2)].name.empty(); }

    // The state to restore, or nothing when there is nothing to undo. current
    // is the document's state now; it is kept for Redo when this is the first
    // undo after an edit.
    std::optional<DocumentState> Undo(const DocumentState& current);
    std::optional<DocumentState> Redo();

    // "Undo %s\tCtrl+Z" with the newest slot's name.
    std::string UndoMenuText() const;
    // "Redo %s\tCtrl+Y" with the name of the action that redo does again, or
    // with an empty name when there is nothing to redo.
    std::string RedoMenuText() const;

    int Index() const { return index_; }
    const std::string& SlotName(int slot) const { return slots_[Step(slot, 0)].name; }
    // Empties every slot and sets the index to 0.
    void Clear();

private:
    struct Slot {
        DocumentState state;
        std::string name;
    };
    static int Step(int slot, int by) { return ((slot + by) % kSlots + kSlots) % kSlots; }
    void Empty(int slot);

    int index_ = 0;
    std::array<Slot, kSlots> slots_;
};

}  // namespace sonitor
