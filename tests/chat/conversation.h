#pragma once

#include "chatsettings.h"
#include "socketendpoint.h"
#include "textchannel.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QTextEdit>

// A conversation as the chat writes it, for the RTF tests: three members with
// their own face, colour and size, Japanese remarks (awkward characters
// included), notices and a member list.
struct Conversation {
    struct Paragraph {
        QString text;
        QString font;
        int halfPoints;
        QColor color;
        int indentTwips;
    };

    net::SocketEndpoint wsTxt;
    QTextEdit box;
    ChatSettings settings;
    TextChannel session{wsTxt, settings};

    Conversation() {
        box.document()->setDefaultFont(ConversationWriter::defaultFont());
        session.setConversationOpener([this] { return box.document(); });
        for (const char* message : {
                 "0<:>1<:>太郎",
                 "0<:>6<:>255",
                 "0<:>7<:>10",
                 "0<:>8<:>0",
                 "1<:>1<:>花子",
                 "1<:>6<:>16711680",
                 "1<:>7<:>15",
                 "1<:>8<:>1",
                 "2<:>5<:>次郎",
                 "2<:>6<:>32768",
                 "2<:>7<:>10",
                 "2<:>8<:>1",
                 "0<:>2<:>こんにちは、ゴシック①髙～ソです",
                 "1<:>2<:>明朝体の発言 with ASCII {braces} \\back",
                 "2<:>2<:>緑の発言",
                 "1<:>3<:>ハナコ",
                 "0<:>4<:>太郎\r\nハナコ\r\n",
             }) {
            session.wsTxtProc1(QString::fromUtf8(message));
        }
    }

    const QTextDocument& document() const { return *box.document(); }

    static QList<Paragraph> expected() {
        const QColor grey(50, 50, 50);
        const QString gothic("ＭＳ ゴシック"), mincho("ＭＳ 明朝");
        return {
            {"太郎 さんが入室しました", gothic, 18, grey, 75},
            {"花子 さんが入室しました", gothic, 18, grey, 75},
            {"太郎 の発言 :", gothic, 18, grey, 75},
            {"こんにちは、ゴシック①髙～ソです", gothic, 20, QColor(255, 0, 0), 240},
            {"花子 の発言 :", gothic, 18, grey, 75},
            {"明朝体の発言 with ASCII {braces} \\back", mincho, 30, QColor(0, 0, 255), 240},
            {"次郎 の発言 :", gothic, 18, grey, 75},
            {"緑の発言", mincho, 20, QColor(0, 128, 0), 240},
            {"花子 は ハナコ に名前変更しました", gothic, 18, grey, 75},
            {"", gothic, 18, grey, 75},
            {"現在のメンバ : ", gothic, 18, grey, 75},
            {"太郎", gothic, 18, grey, 75},
            {"ハナコ", gothic, 18, grey, 75},
        };
    }
};
