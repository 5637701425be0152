#pragma once

#include <QDockWidget>
#include <QString>
#include <vector>

class QAction;
class QTreeWidget;
class QTreeWidgetItem;

namespace sonitor {

class SettingsStore;

// The command bar ("CommandBar"): a dock beside the documents with topics
// that fold open and shut, each listing commands of the menus. An entry
// follows its menu action's text and enabled state; choosing it sends the
// action's command id. The topics' folding is kept in the section "EBar"
// ("topic%d", "1" or "0").
class CommandBar final : public QDockWidget {
    Q_OBJECT
public:
    struct Topic {
        int number = 0;
        QString title;
        std::vector<QAction*> commands;
    };

    CommandBar(const std::vector<Topic>& topics, QWidget* parent = nullptr);

    void LoadTopics(const SettingsStore& settings);
    void StoreTopics(const SettingsStore& settings) const;
    bool Expanded(int topic) const;
    void SetExpanded(int topic, bool expanded);
    // The entry of a command (tests), or null.
    QTreeWidgetItem* Entry(int commandId) const;
    QTreeWidget* Tree() const { return tree_; }

signals:
    void CommandChosen(int id);

private:
    QTreeWidgetItem* TopicItem(int topic) const;
    void Follow(QAction* action, QTreeWidgetItem* item);

    QTreeWidget* tree_ = nullptr;
};

}  // namespace sonitor
