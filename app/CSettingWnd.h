// The settings window: one option, starting the program at login. Built
// from the form "setting.xml" of the skin; "option_autorun" shows the
// stored choice as read once when the window is made, "btn_ok" stores it
// (the setting and the autostart entry) and hides the window, "closebtn"
// hides it without storing. The window lives as long as the main window
// and is only ever shown or hidden: a close request from the window
// manager hides it as well.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

class qvConfig;
class qvSkinArchive;

class CSettingWnd : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char16_t* kAutoStartName = u"qvsearch";

  // `config` outlives the window. Stays hidden until shown.
  CSettingWnd(const qvConfig* config, QWidget* parent = nullptr);

  // Builds the form from `skin`; false (an empty window) when the skin has
  // no "setting.xml" that can be built.
  bool Create(const qvSkinArchive& skin);

  // What the form's buttons report: "click" with the button as sender.
  void Notify(const QString& type, QObject* sender);

  // The option's check box; null when the form lacks it.
  QAbstractButton* AutoRunBox() const { return autoRun_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool InCaption(const QPoint& pos) const;
  void ApplyRoundCorner();

  const qvConfig* config_;
  QPointer<QWidget> skinRoot_;
  QPointer<QAbstractButton> autoRun_;
  QSize roundCorner_;
  bool dragging_ = false;
  QPoint dragOffset_;
};
