#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <span>

class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QLineEdit;
class QRadioButton;
class QVBoxLayout;

namespace sonitor {

// The frame every option dialog of the editor shares: the title without its
// spaces and punctuation as objectName, a column of forms and groups, and
// OK/Cancel at the bottom. OK first asks `check`; a refused value keeps the
// dialog open so the user can correct it.
class CheckedDialog final : public QDialog {
public:
    CheckedDialog(QWidget* parent, const QString& title);

    std::function<bool()> check;

    QVBoxLayout* Layout() const { return layout_; }

    // A new form below what the column holds so far.
    QFormLayout* AddForm();
    // The last form added; the first call adds one.
    QFormLayout* Form();

    // OK (ctrlId 1, default) and Cancel (ctrlId 2). With restoreDefaults a
    // "Restore Defaults" button calls it; help adds a Help button (ctrlId 9)
    // that stays disabled. Extra buttons (Preview) go into the returned box.
    QDialogButtonBox* AddButtons(const std::function<void()>& restoreDefaults = {}, bool help = false);

    void accept() override;

private:
    QVBoxLayout* layout_;
    QFormLayout* form_ = nullptr;
};

// A whole-number field. Only digits (and, when allowed, a leading '-') can
// be typed, so the records see every value the user meant, negative ones
// included, and refuse them with their own message.
QLineEdit* MakeNumberField(QWidget* parent, const char* name, int32_t value, bool allowNegative = true);

// A sample-rate list that also takes a typed rate (digits only); `current`
// is shown even when the list does not offer it.
QComboBox* MakeRateCombo(QWidget* parent, const char* name, std::span<const int32_t> rates, int32_t current);

// An emptied field (or a lone '-') reads as 0, which the records judge like
// any other value.
int32_t NumberFieldValue(const QString& text);
int32_t NumberFieldValue(const QLineEdit* edit);

QRadioButton* MakeRadio(QWidget* parent, const char* text, const char* name);

}  // namespace sonitor
