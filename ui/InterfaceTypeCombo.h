// The interface-type combo box, with an accessible name that screen readers announce.
#pragma once

#include <QComboBox>

/// An editable combo box whose accessible name is its own (on Linux a plain combo box is named
/// by its current text, so "接口类型" would never be heard); its value is the current text.
/// Makes Qt's accessibility use the interfaces of the dialog's own widgets (the combo box and
/// the IP address control); called by their constructors, effective once.
void InstallAccessibleFactory();

class CInterfaceTypeCombo : public QComboBox {
    Q_OBJECT
public:
    explicit CInterfaceTypeCombo(QWidget* parent = nullptr);

    /// Opens the list as wide as its longest item, so that no name is cut short.
    void showPopup() override;
};
