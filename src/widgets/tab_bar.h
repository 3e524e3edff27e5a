#pragma once

#include <QTabBar>

namespace yuragi {

// Tabs of one fixed width, highlighted under the mouse.
class FixedWidthTabBar : public QTabBar {
  Q_OBJECT
 public:
  explicit FixedWidthTabBar(QWidget* parent = nullptr);
  void SetTabWidth(int width);
  int TabWidth() const { return width_; }

 protected:
  QSize tabSizeHint(int index) const override;

 private:
  int width_ = 0;
};

}  // namespace yuragi

#include <QTabWidget>

namespace yuragi {

// Tabbed pages whose tabs all have one width.
class TabPages : public QTabWidget {
  Q_OBJECT
 public:
  explicit TabPages(QWidget* parent = nullptr) : QTabWidget(parent), bar_(new FixedWidthTabBar(this)) {
    setTabBar(bar_);
  }
  FixedWidthTabBar* Bar() const { return bar_; }

 private:
  FixedWidthTabBar* bar_;
};

}  // namespace yuragi
