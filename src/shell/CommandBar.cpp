#include "shell/CommandBar.h"

#include <QAction>
#include <QHeaderView>
#include <QTreeWidget>

#include "foundation/SettingsStore.h"
#include "foundation/Text.h"

namespace sonitor {

namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kTopicRole = Qt::UserRole + 1;

// The menu text without its mnemonic and shortcut.
QString EntryText(const QAction* action) {
    QString text = action->text();
    const qsizetype tab = text.indexOf('\t');
    if (tab >= 0) text.truncate(tab);
    text.remove('&');
    return text.trimmed();
}

}  // namespace

CommandBar::CommandBar(const std::vector<Topic>& topics, QWidget* parent) : QDockWidget("Commands", parent) {
    setObjectName("CommandBar");
    setFeatures(QDockWidget::DockWidgetMovable);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("CommandBarTopics");
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setRootIsDecorated(true);
    tree_->setUniformRowHeights(true);
    for (const Topic& topic : topics) {
        auto* top = new QTreeWidgetItem(tree_, QStringList{topic.title});
        top->setData(0, kTopicRole, topic.number);
        QFont bold = top->font(0);
        bold.setBold(true);
        top->setFont(0, bold);
        for (QAction* action : topic.commands) {
            auto* item = new QTreeWidgetItem(top);
            item->setData(0, kIdRole, action->property("commandId"));
            Follow(action, item);
            connect(action, &QAction::changed, this, [this, action, item] { Follow(action, item); });
        }
        top->setExpanded(true);
    }
    // A single click runs the command, as the bar's links did.
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        const QVariant id = item->data(0, kIdRole);
        if (id.isValid() && (item->flags() & Qt::ItemIsEnabled)) emit CommandChosen(id.toInt());
    });
    setWidget(tree_);
}

void CommandBar::Follow(QAction* action, QTreeWidgetItem* item) {
    item->setText(0, EntryText(action));
    item->setToolTip(0, action->toolTip());
    item->setIcon(0, action->icon());
    Qt::ItemFlags flags = Qt::ItemIsSelectable;
    if (action->isEnabled()) flags |= Qt::ItemIsEnabled;
    item->setFlags(flags);
}

QTreeWidgetItem* CommandBar::TopicItem(int topic) const {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree_->topLevelItem(i);
        if (item->data(0, kTopicRole).toInt() == topic) return item;
    }
    return nullptr;
}

QTreeWidgetItem* CommandBar::Entry(int commandId) const {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = tree_->topLevelItem(i);
        for (int j = 0; j < top->childCount(); ++j) {
            if (top->child(j)->data(0, kIdRole).toInt() == commandId) return top->child(j);
        }
    }
    return nullptr;
}

bool CommandBar::Expanded(int topic) const {
    const QTreeWidgetItem* item = TopicItem(topic);
    return item && item->isExpanded();
}

void CommandBar::SetExpanded(int topic, bool expanded) {
    if (QTreeWidgetItem* item = TopicItem(topic)) item->setExpanded(expanded);
}

void CommandBar::LoadTopics(const SettingsStore& settings) {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree_->topLevelItem(i);
        const int topic = item->data(0, kTopicRole).toInt();
        item->setExpanded(settings.ReadBool("EBar", Format("topic%d", topic), true));
    }
}

void CommandBar::StoreTopics(const SettingsStore& settings) const {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = tree_->topLevelItem(i);
        settings.WriteString("EBar", Format("topic%d", item->data(0, kTopicRole).toInt()),
                             item->isExpanded() ? "1" : "0");
    }
}

}  // namespace sonitor
