// The client's text-channel handling with its member tables and the chat
// window's conversation box (offscreen): arbitrary bytes framed at "%EOT%"
// and decoded as the text socket's arrivals are, each piece through
// wsTxtProc1. Besides crashes and undefined behaviour it checks:
// - the formatting buffer is empty after every message;
// - a message of type 5 to 8, or one that is not a message, writes nothing;
//   one of type 0 to 4 writes its text (a remark: header, then the remark);
// - the member tables only change in the slot of the message's index.
//
// Input: byte 0 says whether the chat window is visible; the rest is the
// stream.
#include "chatsettings.h"
#include "cp932.h"
#include "framesplitter.h"
#include "socketendpoint.h"
#include "textchannel.h"
#include "textmessage.h"

#include <QApplication>
#include <QTextEdit>
#include <cstdlib>
#include <memory>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// A fresh session and conversation box per input: nothing outlives one run,
// so the leak check after each run sees only what the run itself kept.
struct Rig {
    net::SocketEndpoint wsTxt; // never connected: wsTxtProc1 is fed directly
    QTextEdit box;
    ChatSettings settings;
    TextChannel session{wsTxt, settings};
    bool visible = true;

    Rig() {
        box.document()->setDefaultFont(ConversationWriter::defaultFont());
        session.setConversationOpener(
            [this]() -> QTextDocument* { return visible ? box.document() : nullptr; });
    }
};

void makeApplication() {
    static int argc = 1;
    static char name[] = "fuzz_textchannel";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's font caches belong to the main thread's storage
    // and must not be torn down before the exit-time leak check runs.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

// Same tables except possibly slot `index`.
template <typename Table> bool othersUnchanged(const Table& before, const Table& after, int index) {
    for (int i = 0; i < int(before.size()); ++i)
        if (i != index && before[i] != after[i])
            return false;
    return true;
}

void applyOne(Rig& r, const QString& message) {
    const auto names = r.session.memName();
    const auto colours = r.session.memColor();
    const auto sizes = r.session.memSize();
    const auto fonts = r.session.memFont();
    const int before = r.box.document()->characterCount();

    r.session.wsTxtProc1(message);

    check(r.session.writer().backRTF().isEmpty());
    const auto parsed = protocol::text::parseDownMessage(message);
    const int index = parsed ? parsed->index : -1;
    check(othersUnchanged(names, r.session.memName(), index));
    check(othersUnchanged(colours, r.session.memColor(), index));
    check(othersUnchanged(sizes, r.session.memSize(), index));
    check(othersUnchanged(fonts, r.session.memFont(), index));

    const int after = r.box.document()->characterCount();
    const bool shown = parsed && parsed->type >= 0 && parsed->type <= 4;
    if (!shown || !r.visible) {
        check(after == before);
        return;
    }
    // Every notice has a fixed non-empty text; a remark at least its header.
    check(after > before);
    if (parsed->type == protocol::text::Remark && !parsed->payload.isEmpty()) {
        QString plain = parsed->payload;
        plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        if (plain.endsWith(QLatin1Char('\n')))
            plain.chop(1);
        plain.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        plain.replace(QChar::LineSeparator, QLatin1Char('\n'));
        plain.replace(QChar::Nbsp, QLatin1Char(' '));
        check(r.box.toPlainText().endsWith(plain));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    makeApplication();
    Rig r;
    r.visible = (data[0] & 1) == 0;
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    protocol::FrameSplitter splitter{QByteArray(protocol::text::Terminator)};
    for (const QByteArray& piece : splitter.feed(stream))
        applyOne(r, protocol::fromCp932(piece));
    // Directly, as decoded text that never went through the framing.
    applyOne(r, protocol::fromCp932(stream));
    return 0;
}
