#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// Drawing-channel lines (TCP, port ports::Drawing). Every line ends with
// "\r\n"; fields are separated by ':' and a point's two numbers by ','. All
// builders below return the complete line including its "\r\n"; lines are
// plain ASCII.
//
//   upstream   (client -> server):  command ":" argument
//   downstream (server -> client):  index ":" command ":" argument
//
// A relayed downstream line is the sender's index followed by the upstream
// line exactly as the sender wrote it, blanks included.
namespace protocol::drawing {

enum Command : int {
    PenUp = 0,       // "0:0"           end of stroke
    PenDown = 1,     // "1: x, y"       start of stroke, nothing drawn
    Draw = 2,        // "2: x, y"       pencil segment to (x, y)
    ClearAll = 3,    // "3: 0, 0"       clear the canvas, empties the server history
    Color = 4,       // "4: colour"     red + 256*green + 65536*blue
    Width = 5,       // "5: width"      pen width value 0..3
    Erase = 6,       // "6: x, y"       eraser segment to (x, y), drawn white
    Extension = 7,   // "7:verb ..."  ours only: described clients never send it and
                     //                ignore it downstream; see the files that speak each verb
    MemberCount = 8, // "8:member" upstream; "0:8:count" downstream
};

inline constexpr char Terminator[] = "\r\n";

// --- upstream, as the client writes them (numbers in the blank-prefixed form)
QByteArray penUpLine();               // "0:0\r\n"
QByteArray penDownLine(int x, int y); // "1: 120, 45\r\n"
QByteArray restartLine(int x, int y); // "1:120,45\r\n" (stroke restart: no blanks)
QByteArray drawLine(int x, int y);    // "2: 120, 45\r\n"
QByteArray clearAllLine();            // "3: 0, 0\r\n"
QByteArray colorLine(qint32 colour);  // "4: 255\r\n"
QByteArray widthLine(int width);      // "5: 0\r\n"
QByteArray eraseLine(int x, int y);   // "6:-3, 7\r\n"
QByteArray memberRequestLine();       // "8:member\r\n"

// --- downstream, as the server writes them (numbers plain)
// index ":" line "\r\n"; `line` is the received line without its terminator.
QByteArray relayedLine(int index, QByteArrayView line);
QByteArray memberCountLine(int count);                  // "0:8:count\r\n"
QByteArray greetingColorLine(int index, qint32 colour); // "j:4:colour\r\n"
QByteArray greetingWidthLine(int index, int width);     // "j:5:width\r\n"

// --- the client's reading of one downstream line (terminator removed).
// Accepted only with three or four ':'-separated fields, a command value below
// 9, and index and command that fit 16 bits (rounded halves to even).
// It allocates nothing and hands back a view into `line`: the receiver applies
// hundreds of thousands of lines per second this way.
struct DownLineView {
    qint16 index = 0;
    qint16 command = 0;
    QStringView argument; // third field, a view into the line read
};
std::optional<DownLineView> readDownLine(QStringView line);

// Drawing-channel text from its CP932 bytes, one line or many. The lines are
// plain ASCII in practice, which is decoded without the converter; anything
// else goes through protocol::fromCp932.
QString decodeText(QByteArrayView bytes);

// --- the server's reading of one upstream line (terminator removed).
// `command` is the lenient value of the first field (not rounded: "8", " 8" and
// "08" all compare equal to 8); `data` is the second field alone, absent when
// the line has no ':'.
struct UpLine {
    double command = 0;
    std::optional<QByteArray> data;
};
UpLine parseUpLine(QByteArrayView line);

// A point argument split at its first ',': x is the text before it, y the
// text between the first and second ',' (absent when there is no ',').
struct PointText {
    QStringView x;
    std::optional<QStringView> y;
};
PointText splitPoint(QStringView argument);

} // namespace protocol::drawing
