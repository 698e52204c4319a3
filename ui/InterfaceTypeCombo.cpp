// The interface-type combo box, and the accessible interfaces of the dialog's own widgets.
#include "ui/InterfaceTypeCombo.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QStyle>
#include <algorithm>

namespace {

/// The combo box: named by its accessible name, valued by its current text.
class InterfaceTypeComboAccessible : public QAccessibleWidget {
public:
    explicit InterfaceTypeComboAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return Combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction()) {
            Combo()->showPopup();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* CreateAccessible(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // Qt's accessibility cache owns the interfaces it is given.
    if (className == QLatin1String("CInterfaceTypeCombo")) {
        return new InterfaceTypeComboAccessible(widget);
    }
    if (className == QLatin1String("CIpAddressCtrl")) {
        // One group of four fields, as the native control presents itself; not a window frame.
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    }
    return nullptr;
}

}  // namespace

void InstallAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(CreateAccessible);
        return true;
    }();
    (void)installed;
}

CInterfaceTypeCombo::CInterfaceTypeCombo(QWidget* parent) : QComboBox(parent) {
    InstallAccessibleFactory();
}

void CInterfaceTypeCombo::showPopup() {
    QAbstractItemView* list = view();
    list->setTextElideMode(Qt::ElideNone);
    int width = 0;
    for (int i = 0; i < count(); ++i) {
        width = std::max(width, list->sizeHintForIndex(model()->index(i, modelColumn())).width());
    }
    // Room for the frame and for a vertical scroll bar, which a long list of tables gets.
    width += 2 * list->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    list->setMinimumWidth(width);
    QComboBox::showPopup();
}
