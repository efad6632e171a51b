#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <functional>

// Static dialog functions (QFileDialog::getSaveFileName, QMessageBox::warning)
// run their own event loop. A ModalWatch polls for the first modal window of
// type T while it lives and hands it to `action`, which must close it.
template <typename T> class ModalWatch {
public:
    explicit ModalWatch(std::function<void(T*)> action) : m_action(std::move(action)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
                m_timer.stop();
                ++m_seen;
                m_action(dialog);
                m_timer.start();
            }
        });
        m_timer.start();
    }
    // How many times a window of type T came up.
    int seen() const { return m_seen; }

private:
    std::function<void(T*)> m_action;
    QTimer m_timer;
    int m_seen = 0;
};

// The names an item view lists below its root, as shown.
inline QStringList listedNames(const QAbstractItemView* view) {
    QStringList names;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
        names << model->index(row, 0, view->rootIndex()).data().toString();
    return names;
}
