#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quendle {

class Feedback;
class LabelButton;
struct ProgramValues;

// The META tag and link editor: builds a head block from its fields and writes it into the page.
class LinkEditor : public QWidget
{
    Q_OBJECT
public:
    // A new editor with its design values; it deletes itself when closed.
    LinkEditor(Feedback& feedback, ProgramValues& values, const QString& pagePath);

public slots:
    void Command1_Click(); // Generate
    void Command2_Click(); // Write
    void Label1_Click();   // Close

private:
    QLineEdit* lineEdit(const char* name, QWidget* container, const QString& text,
                        const QString& tooltip, const QRect& geometry);
    QPlainTextEdit* textArea(const char* name, const QString& tooltip, const QRect& geometry);
    void label(const char* name, const QString& caption, const QRect& geometry,
               const QString& tooltip = {});
    QCheckBox* checkBox(const char* name, const QString& caption, const QRect& geometry);

    Feedback& m_feedback;
    ProgramValues& m_values;
    QString m_pagePath;

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QPlainTextEdit* Text4 = nullptr;
    QPlainTextEdit* Text5 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QLineEdit* Text12 = nullptr;
    QLineEdit* Text13 = nullptr;
    QLineEdit* Text14 = nullptr;
    QLineEdit* Text15 = nullptr;
    QLineEdit* Text16 = nullptr;
    QPlainTextEdit* Text17 = nullptr;
    QLineEdit* Text18 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPlainTextEdit* Text6 = nullptr;
    LabelButton* Label1 = nullptr;
};

} // namespace quendle
