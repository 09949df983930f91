#include "platform/richtext/rich_text_toolbar.h"

#include <QActionGroup>
#include <QComboBox>
#include <QFontComboBox>
#include <QFontDatabase>

#include "platform/richtext/rich_text_editor.h"

namespace veltrane::richtext {

RichTextToolBar::RichTextToolBar(QWidget* parent) : QToolBar(parent) {
  setFixedHeight(28);
  setIconSize(QSize(16, 16));
  fontNames_ = new QFontComboBox(this);
  fontNames_->setObjectName("FontNames");
  fontNames_->setToolTip(tr("Font"));
  addWidget(fontNames_);
  fontSizes_ = new QComboBox(this);
  fontSizes_->setObjectName("FontSizes");
  fontSizes_->setEditable(true);
  fontSizes_->setToolTip(tr("Font size"));
  for (int size : QFontDatabase::standardSizes()) {
    if (size >= 8) fontSizes_->addItem(QString::number(size));
  }
  addWidget(fontSizes_);
  addSeparator();
  normal_ = makeAction(tr("Normal"), tr("Normal text"), false);
  bold_ = makeAction(tr("B"), tr("Bold"), true);
  italic_ = makeAction(tr("I"), tr("Italic"), true);
  underline_ = makeAction(tr("U"), tr("Underline"), true);
  addSeparator();
  auto* alignGroup = new QActionGroup(this);
  left_ = makeAction(tr("Left"), tr("Align left"), true);
  right_ = makeAction(tr("Right"), tr("Align right"), true);
  justify_ = makeAction(tr("Justify"), tr("Justify"), true);
  center_ = makeAction(tr("Center"), tr("Center"), true);
  for (QAction* a : {left_, right_, justify_, center_}) alignGroup->addAction(a);
  addSeparator();
  copy_ = makeAction(tr("Copy"), tr("Copy"), false);
  cut_ = makeAction(tr("Cut"), tr("Cut"), false);
  paste_ = makeAction(tr("Paste"), tr("Paste"), false);
  spell_ = makeAction(tr("Spell"), tr("Check spelling"), false);
  setEditor(nullptr);
}

QAction* RichTextToolBar::makeAction(const QString& text, const QString& tip, bool checkable) {
  QAction* a = addAction(text);
  a->setToolTip(tip);
  a->setStatusTip(tip);
  a->setCheckable(checkable);
  return a;
}

void RichTextToolBar::setEditor(RichTextEditor* editor) {
  for (const auto& c : editorConnections_) disconnect(c);
  editorConnections_.clear();
  for (QAction* a : actions()) disconnect(a, &QAction::triggered, nullptr, nullptr);
  disconnect(fontNames_, nullptr, this, nullptr);
  disconnect(fontSizes_, nullptr, this, nullptr);
  editor_ = editor;
  setEnabled(editor != nullptr);
  if (!editor) return;

  auto& conns = editorConnections_;
  conns << connect(fontNames_, &QFontComboBox::currentFontChanged, this,
                   [this](const QFont& f) { editor_->setWritingFont(f.family()); editor_->setFocus(); });
  conns << connect(fontSizes_, &QComboBox::textActivated, this,
                   [this](const QString& s) { editor_->setWritingSize(s.toDouble()); editor_->setFocus(); });
  conns << connect(normal_, &QAction::triggered, editor, [this] { editor_->setWritingNormal(); showFormat(); });
  conns << connect(bold_, &QAction::triggered, editor, &RichTextEditor::setWritingBold);
  conns << connect(italic_, &QAction::triggered, editor, &RichTextEditor::setWritingItalic);
  conns << connect(underline_, &QAction::triggered, editor, &RichTextEditor::setWritingUnderline);
  conns << connect(left_, &QAction::triggered, this, [this] { setAlignment(Qt::AlignLeft); });
  conns << connect(right_, &QAction::triggered, this, [this] { setAlignment(Qt::AlignRight); });
  conns << connect(justify_, &QAction::triggered, this, [this] { setAlignment(Qt::AlignJustify); });
  conns << connect(center_, &QAction::triggered, this, [this] { setAlignment(Qt::AlignHCenter); });
  conns << connect(copy_, &QAction::triggered, editor, &QTextEdit::copy);
  conns << connect(cut_, &QAction::triggered, editor, &QTextEdit::cut);
  conns << connect(paste_, &QAction::triggered, editor, &QTextEdit::paste);
  conns << connect(spell_, &QAction::triggered, editor, &RichTextEditor::requestSpellCheck);
  conns << connect(editor, &QTextEdit::cursorPositionChanged, this, &RichTextToolBar::showFormat);
  conns << connect(editor, &QTextEdit::currentCharFormatChanged, this, &RichTextToolBar::showFormat);
  showFormat();
}

void RichTextToolBar::setAlignment(Qt::Alignment alignment) {
  editor_->setAlignment(alignment);
  showFormat();
}

// The buttons and lists follow the text at the caret.
void RichTextToolBar::showFormat() {
  if (!editor_) return;
  QTextCharFormat f = editor_->currentCharFormat();
  QSignalBlocker blockNames(fontNames_);
  QSignalBlocker blockSizes(fontSizes_);
  QStringList families = f.fontFamilies().toStringList();
  if (!families.isEmpty()) fontNames_->setCurrentFont(QFont(families.first()));
  if (f.fontPointSize() > 0) fontSizes_->setEditText(QString::number(f.fontPointSize()));
  bold_->setChecked(f.fontWeight() > QFont::Medium);
  italic_->setChecked(f.fontItalic());
  underline_->setChecked(f.fontUnderline());
  Qt::Alignment a = editor_->alignment() & Qt::AlignHorizontal_Mask;
  justify_->setChecked(a & Qt::AlignJustify);
  center_->setChecked(a == Qt::AlignHCenter);
  right_->setChecked(a & Qt::AlignRight && !(a & Qt::AlignJustify));
  left_->setChecked(!(a & (Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify)));
}

}  // namespace veltrane::richtext
