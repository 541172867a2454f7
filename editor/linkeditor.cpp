#include "editor/linkeditor.h"

#include "appcore/programvalues.h"
#include "page/metablock.h"
#include "page/productsettings.h"
#include "publish/headwriting.h"
#include "ui/labelbutton.h"
#include "ui/look.h"
#include "ui/resultmessages.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace quendle {

LinkEditor::LinkEditor(Feedback& feedback, ProgramValues& values, const QString& pagePath)
    : m_feedback(feedback), m_values(values), m_pagePath(pagePath)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("linkEditor"));
    setWindowTitle(QStringLiteral("LinkEditor"));
    setFixedSize(508, 464);
    look::paint(this, look::kNavy, look::kWhite);
    setFont(look::windowFont());

    Frame1 = new QGroupBox(QStringLiteral("Banner Link:"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(7, 7, 494, 57);
    look::paint(Frame1, look::kNavy, look::kWhite);
    Text1 =
        lineEdit("Text1", Frame1, editorBannerLink(),
                 QStringLiteral("NOTE: IMPORTANT to have the DOUBLE QUOTES"), {10, 21, 475, 20});

    Frame2 = new QGroupBox(QStringLiteral("META Tags:"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setGeometry(7, 66, 495, 370);
    look::paint(Frame2, look::kNavy, look::kWhite);

    label("Label3", QStringLiteral("Title:"), {3, 17, 37, 15});
    Text3 =
        lineEdit("Text3", Frame2, {}, QStringLiteral("Title for your Page(s)"), {65, 15, 194, 19});
    label("Label4", QStringLiteral("Keywords:"), {4, 38, 54, 13});
    Text4 = textArea("Text4", QStringLiteral("Keywords for your Pages"), {66, 35, 194, 77});
    label("Label5", QStringLiteral("Description:"), {3, 115, 59, 15});
    Text5 = textArea("Text5", QStringLiteral("Page Description"), {66, 115, 195, 71});
    label("Label6", QStringLiteral("Robot Traversal:"), {5, 190, 93, 16},
          QStringLiteral("Use if you want Search Engine Robots to Crawl your pages"));
    Check1 = checkBox("Check1", QStringLiteral("Nofollow"), {88, 190, 71, 13});
    Check2 = checkBox("Check2", QStringLiteral("Noindex"), {88, 203, 69, 15});
    label("Label11", QStringLiteral("Revisit After:"), {266, 16, 92, 15});
    Text12 = lineEdit("Text12", Frame2, {}, {}, {332, 11, 96, 19});
    label("Label12", QStringLiteral("Rating:"), {266, 33, 77, 15});
    Text13 = lineEdit("Text13", Frame2, QStringLiteral("General"), {}, {332, 31, 159, 19});
    label("Label13", QStringLiteral("Language:"), {266, 52, 66, 13});
    Text14 = lineEdit("Text14", Frame2, QStringLiteral("EN"), {}, {332, 50, 159, 19});
    label("Label14", QStringLiteral("Distribution:"), {266, 73, 64, 15});
    Text15 = lineEdit("Text15", Frame2, QStringLiteral("Global"), {}, {332, 69, 159, 19});
    label("Label15", QStringLiteral("Classification:"), {266, 93, 70, 12});
    Text16 = lineEdit("Text16", Frame2, QStringLiteral("Software"), {}, {332, 89, 159, 19});
    label("Label16", QStringLiteral("Bulletin Text:"), {266, 115, 73, 11});
    Text17 = textArea("Text17", {}, {332, 109, 159, 45});
    label("Label17", QStringLiteral("Author:"), {266, 160, 64, 12});
    Text18 = lineEdit("Text18", Frame2, {}, {}, {332, 156, 159, 19});

    Command1 = new QPushButton(QStringLiteral("Generate"), Frame2);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(333, 189, 67, 23);
    Command2 = new QPushButton(QStringLiteral("Write"), Frame2);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(408, 189, 70, 23);
    for (QPushButton* button : {Command1, Command2}) {
        button->setAutoDefault(false);
        button->setPalette(QGuiApplication::palette());
    }

    Text6 = textArea("Text6", QStringLiteral("Generated META tags"), {5, 226, 484, 136});

    Label1 = new LabelButton(QStringLiteral("Close"), 8.25, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(451, 443, 50, 19);

    QWidget* order[] = {Text3,  Text4,  Text5,  Check1, Check2,   Text12,   Text13, Text14,
                        Text15, Text16, Text17, Text18, Command1, Command2, Text1,  Text6};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    Text3->setFocus();

    connect(Command1, &QPushButton::clicked, this, &LinkEditor::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &LinkEditor::Command2_Click);
    connect(Label1, &LabelButton::clicked, this, &LinkEditor::Label1_Click);
}

QLineEdit* LinkEditor::lineEdit(const char* name, QWidget* container, const QString& text,
                                const QString& tooltip, const QRect& geometry)
{
    auto* field = new QLineEdit(text, container);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(geometry);
    field->setToolTip(tooltip);
    look::paintField(field);
    return field;
}

QPlainTextEdit* LinkEditor::textArea(const char* name, const QString& tooltip,
                                     const QRect& geometry)
{
    auto* area = new QPlainTextEdit(Frame2);
    area->setObjectName(QLatin1String(name));
    area->setGeometry(geometry);
    area->setToolTip(tooltip);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->setTabChangesFocus(true);
    look::paintField(area);
    return area;
}

void LinkEditor::label(const char* name, const QString& caption, const QRect& geometry,
                       const QString& tooltip)
{
    auto* text = new QLabel(caption, Frame2);
    text->setObjectName(QLatin1String(name));
    text->setGeometry(geometry);
    text->setToolTip(tooltip);
    look::setTextColour(text, look::kWhite);
}

QCheckBox* LinkEditor::checkBox(const char* name, const QString& caption, const QRect& geometry)
{
    auto* box = new QCheckBox(caption, Frame2);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    look::paint(box, look::kNavy, look::kWhite);
    return box;
}

void LinkEditor::Command1_Click()
{
    const MetaFields fields{Text3->text(),  Text4->toPlainText(), Text5->toPlainText(),
                            Text12->text(), Text13->text(),       Text14->text(),
                            Text15->text(), Text16->text(),       Text17->toPlainText(),
                            Text18->text(), Check1->isChecked(),  Check2->isChecked()};
    Text6->setPlainText(metaBlock(fields));
}

void LinkEditor::Command2_Click()
{
    m_values.banner = Text1->text();
    showResult(m_feedback, writeHead(m_pagePath, Text6->toPlainText()));
}

void LinkEditor::Label1_Click()
{
    close();
}

} // namespace quendle
