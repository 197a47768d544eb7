#include "qvSearchModeActions.h"

#include <QAction>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>

namespace {

const QString kCaseLabel = QStringLiteral("Aa");
const QString kPinyinLabel = QStringLiteral("拼");
const QString kHiddenLabel = QStringLiteral("隐");

// The button face: the label in the window's blue on a pale ground when
// the switch is on, grey when off.
QIcon Face(const QString& label, bool on) {
  constexpr int kSize = 32;
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  if (on) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xD6, 0xE8, 0xFB));
    p.drawRoundedRect(QRectF(1, 1, kSize - 2, kSize - 2), 6, 6);
  }
  QFont font = p.font();
  font.setPixelSize(label.size() > 1 ? 15 : 17);
  font.setBold(on);
  p.setFont(font);
  p.setPen(on ? QColor(0x1E, 0x6F, 0xD9) : QColor(0x99, 0x99, 0x99));
  p.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, label);
  return QIcon(pixmap);
}

}  // namespace

qvSearchModeActions::qvSearchModeActions(QLineEdit* edit, const qvConfig* config,
                                         std::function<void(const qvConfig::SearchModes&)> onChange)
    : QObject(edit), config_(config), onChange_(std::move(onChange)) {
  if (config_) modes_ = config_->GetSearchModes();
  matchCase_ = Add(edit, kCaseLabel, QStringLiteral("区分大小写（也可在搜索前加 case:）"), modes_.matchCase);
  pinyin_ = Add(edit, kPinyinLabel, QStringLiteral("拼音：bg 可找到“报告”"), modes_.pinyin);
  hidden_ = Add(edit, kHiddenLabel, QStringLiteral("显示隐藏项（名称以 . 开头的文件和文件夹）"), modes_.showHidden);
}

QAction* qvSearchModeActions::Add(QLineEdit* edit, const QString& label, const QString& tip, bool on) {
  auto* action = new QAction(this);
  action->setObjectName(QStringLiteral("search_mode_") + (label == kCaseLabel ? QStringLiteral("case")
                                                          : label == kPinyinLabel ? QStringLiteral("pinyin")
                                                                                  : QStringLiteral("hidden")));
  action->setCheckable(true);
  action->setChecked(on);
  action->setToolTip(tip);
  Show(action, label, on);
  connect(action, &QAction::triggered, this, [this, action] { Flip(action); });
  if (edit) edit->addAction(action, QLineEdit::TrailingPosition);
  return action;
}

void qvSearchModeActions::Show(QAction* action, const QString& label, bool on) {
  action->setIcon(Face(label, on));
  action->setText(label);
}

void qvSearchModeActions::Flip(QAction* action) {
  // A QLineEdit action button does not keep the checked look: the face
  // says it.
  const bool on = action->isChecked();
  // The settings window may have changed the others meanwhile.
  if (config_) modes_ = config_->GetSearchModes();
  if (action == matchCase_) {
    modes_.matchCase = on;
    Show(action, kCaseLabel, on);
  } else if (action == pinyin_) {
    modes_.pinyin = on;
    Show(action, kPinyinLabel, on);
  } else {
    modes_.showHidden = on;
    Show(action, kHiddenLabel, on);
  }
  if (config_) config_->SetSearchModes(modes_);
  if (onChange_) onChange_(modes_);
}
