// Toolbar of a rich-text editor: font name and size lists, normal, bold,
// italic and underline, the four alignments, copy, cut, paste and spell
// check. Windows append their own buttons after these with addAction/addWidget.
#pragma once

#include <QToolBar>

class QAction;
class QComboBox;
class QFontComboBox;

namespace veltrane::richtext {

class RichTextEditor;

class RichTextToolBar : public QToolBar {
  Q_OBJECT

 public:
  explicit RichTextToolBar(QWidget* parent = nullptr);
  void setEditor(RichTextEditor* editor);
  RichTextEditor* editor() const { return editor_; }

  QFontComboBox* fontNames() const { return fontNames_; }
  QComboBox* fontSizes() const { return fontSizes_; }
  QAction* normalAction() const { return normal_; }
  QAction* boldAction() const { return bold_; }
  QAction* italicAction() const { return italic_; }
  QAction* underlineAction() const { return underline_; }
  QAction* alignLeftAction() const { return left_; }
  QAction* alignRightAction() const { return right_; }
  QAction* justifyAction() const { return justify_; }
  QAction* centerAction() const { return center_; }
  QAction* copyAction() const { return copy_; }
  QAction* cutAction() const { return cut_; }
  QAction* pasteAction() const { return paste_; }
  QAction* spellCheckAction() const { return spell_; }

 private:
  QAction* makeAction(const QString& text, const QString& tip, bool checkable);
  void showFormat();
  void setAlignment(Qt::Alignment alignment);

  RichTextEditor* editor_ = nullptr;
  QFontComboBox* fontNames_;
  QComboBox* fontSizes_;
  QAction *normal_, *bold_, *italic_, *underline_;
  QAction *left_, *right_, *justify_, *center_;
  QAction *copy_, *cut_, *paste_, *spell_;
  QList<QMetaObject::Connection> editorConnections_;
};

}  // namespace veltrane::richtext
