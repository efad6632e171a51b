#include "undohistory.h"

#include "drawingline.h"
#include "membertables.h"
#include "snapshot.h"
#include "undowire.h"

#include <QBuffer>
#include <QImageReader>
#include <algorithm>
#include <unordered_set>

namespace drawing = protocol::drawing;

namespace {

// The smallest rectangle of `area` where the two pictures differ.
QRect difference(const QImage& a, const QImage& b, const QRect& area) {
    int top = -1, bottom = -1, left = area.right() + 1, right = area.left() - 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* ra = reinterpret_cast<const quint32*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const quint32*>(b.constScanLine(y));
        int first = area.left();
        while (first <= area.right() && ra[first] == rb[first])
            ++first;
        if (first > area.right())
            continue;
        int last = area.right();
        while (ra[last] == rb[last])
            --last;
        top = top < 0 ? y : top;
        bottom = y;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    return top < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

bool isMember(QStringView text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}

} // namespace

UndoHistory::UndoHistory(Board& board, Use use) : m_board(board), m_use(use) {
    m_owner.fill(-1);
    restart();
}

void UndoHistory::restart() {
    // While changes are tracked the new start shares every tile that did not
    // change since the last frame: a run of clear-alls costs a few hundred
    // pointers each, not a copy of the picture.
    const bool tracked = !m_suspended && !m_frames.empty() &&
                         (m_use == Use::Server || m_markerSeen) &&
                         m_dirty.size() == size_t(m_frames.back().picture.tileCount());
    TileFrame start = tracked ? TileFrame::update(m_frames.back().picture, m_board.image(), m_dirty)
                              : TileFrame::copyOf(m_board.image());
    m_baseKnown = m_use == Use::Server;
    m_markerSeen = false;
    m_baseInHistory = false;
    m_suspended = false;
    m_steps.clear();
    m_actions.clear();
    m_open.fill(-1);
    for (qint32 member = 0; member < qint32(m_lists.size()); ++member)
        if (!m_lists[size_t(member)].undo.empty() || !m_lists[size_t(member)].redo.empty())
            changed(member);
    m_lists.assign(m_lists.size(), Lists{});
    m_frames.clear();
    m_frames.push_back(Frame{0, std::move(start), m_board.pens()});
    m_dirty.assign(size_t(m_frames.front().picture.tileCount()), 0);
    m_spacing = m_use == Use::Server ? FirstSpacing : PlayerSpacing;
    m_frameBytes = frameBytes();
    m_lastChange = {};
    m_baseData.clear();
    m_baseChunks = 0;
}

void UndoHistory::suspend() {
    if (m_suspended)
        return;
    restart();
    m_frames.clear(); // nothing is rebuilt while suspended
    m_suspended = true;
}

int UndoHistory::take(QStringView line) {
    const std::optional<drawing::DownLineView> f = drawing::readDownLine(line);
    if (!f)
        return -1;
    if (f->command == drawing::Extension) {
        // Only the server writes a command field of exactly "7" into the
        // history: a member's line whose first field merely reads as 7 (" 7",
        // "07") is never stored, but one that rounds to 7 ("7.4") is stored
        // and relayed, and must not count as a marker.
        const qsizetype colon = line.indexOf(u':');
        if (!m_suspended && line.sliced(colon + 1).startsWith(u"7:")) {
            if (!m_markerSeen) // changes were not tracked until now
                m_dirty.assign(m_dirty.size(), 1);
            m_markerSeen = true;
            marker(f->index, f->argument);
        }
        return drawing::Extension;
    }
    if (f->command == drawing::PenUp) {
        if (protocol::hasSlot(f->index))
            closeStroke(f->index);
        return -1;
    }
    const Board::Step step = Board::readStep(f->index, f->command, f->argument);
    if (step.kind == Board::Step::None)
        return -1;
    if (m_suspended) {
        m_board.apply(step);
        return f->command;
    }
    if (qsizetype(m_steps.size()) >= MaxSteps) {
        suspend();
        m_board.apply(step);
        return f->command;
    }
    record(step);
    return f->command;
}

void UndoHistory::record(const Board::Step& step) {
    const qint32 n = actionFor(step);
    m_steps.push_back(Entry{step, n});
    const QRect area = m_board.apply(step);
    if (n >= 0 && !m_actions[size_t(n)].clear) {
        Action& a = m_actions[size_t(n)];
        a.area |= area;
        a.painted = a.painted || step.paints();
    }
    if (m_use == Use::Server || m_markerSeen) {
        m_frames.front().picture.markDirty(m_dirty, area);
        if (qint64(m_steps.size()) - m_frames.back().position >= m_spacing)
            keepFrame();
    }
}

// The action a step belongs to: a stroke of its index (opened by its first
// pen step), a new clear-all, or none (colour and width).
qint32 UndoHistory::actionFor(const Board::Step& step) {
    using S = Board::Step;
    if (step.kind == S::Color || step.kind == S::Width)
        return -1;
    const qint32 n = qint32(m_actions.size());
    Action a;
    a.firstStep = qint32(m_steps.size());
    a.index = step.index;
    if (step.kind == S::Clear) {
        a.clear = true;
        a.open = false;
        a.painted = true;
        a.area = m_board.image().rect();
        a.owner = protocol::hasSlot(step.index) ? m_owner[size_t(step.index)] : -1;
        for (qint32 member = 0; member < qint32(m_lists.size()); ++member) {
            Lists& lists = m_lists[size_t(member)];
            if (!lists.undo.empty() || !lists.redo.empty() || member == a.owner)
                changed(member);
            lists = Lists{};
        }
        m_actions.push_back(a);
        if (a.owner >= 0)
            m_lists[size_t(a.owner)].undo.push_back(n);
        return n;
    }
    qint32& open = m_open[size_t(step.index)]; // pen steps only come for slots 0..20
    if (open < 0) {
        a.owner = m_owner[size_t(step.index)];
        m_actions.push_back(a);
        open = n;
    }
    return open;
}

void UndoHistory::closeStroke(int index) {
    qint32& open = m_open[size_t(index)];
    if (open < 0)
        return;
    const qint32 n = open;
    Action& a = m_actions[size_t(n)];
    a.open = false;
    open = -1;
    if (!a.painted || a.owner < 0)
        return;
    Lists& lists = m_lists[size_t(a.owner)];
    lists.undo.push_back(n);
    if (lists.undo.size() > size_t(Depth))
        lists.undo.erase(lists.undo.begin());
    lists.redo.clear();
    changed(a.owner);
}

void UndoHistory::marker(qint16 index, QStringView argument) {
    const QList<QStringView> f = argument.split(u' ');
    const QStringView verb = f.value(0);
    if (verb == u"me" && f.size() == 2 && protocol::hasSlot(index)) {
        if (f[1] == u"-" || isMember(f[1]))
            setOwner(index, f[1] == u"-" ? QByteArray() : f[1].toLatin1());
    } else if ((verb == u"undo" || verb == u"redo") && f.size() == 2) {
        bool ok = false;
        const int n = f[1].toInt(&ok);
        if (ok && n >= 0 && n < actionCount())
            takeBack(n, verb == u"undo");
    } else if (verb == u"base" || verb == u"bdata") {
        takeBase(f);
    } else if (verb == u"epoch" && f.size() == 1) {
        restart();
    }
}

void UndoHistory::setOwner(qint16 index, const QByteArray& member) {
    closeStroke(index);
    m_owner[size_t(index)] = member.isEmpty() ? -1 : memberId(member);
    if (!member.isEmpty())
        changed(m_owner[size_t(index)]);
}

// Takes action n back (undo) or restores it; a marker that does not fit the
// action's state changes nothing.
void UndoHistory::takeBack(int n, bool undo) {
    Action& a = m_actions[size_t(n)];
    m_lastChange = {};
    if (a.open || a.undone == undo)
        return;
    a.undone = undo;
    if (a.owner >= 0) {
        Lists& lists = m_lists[size_t(a.owner)];
        auto& from = undo ? lists.undo : lists.redo;
        auto& to = undo ? lists.redo : lists.undo;
        from.erase(std::remove(from.begin(), from.end(), n), from.end());
        to.push_back(n);
        if (to.size() > size_t(Depth))
            to.erase(to.begin());
        changed(a.owner);
    }
    rebuild(a);
}

// The action's area from the latest frame before it, every later step
// replayed except those of actions taken back; later frames take the
// rebuilt area as well, so they stay what a full replay would hold.
void UndoHistory::rebuild(const Action& action) {
    const QRect area = action.area.intersected(m_board.image().rect());
    if (area.isEmpty() || m_frames.empty())
        return;
    auto frame = std::upper_bound(m_frames.begin(), m_frames.end(), qint64(action.firstStep),
                                  [](qint64 at, const Frame& f) { return at < f.position; });
    --frame; // frame 0 is at position 0, so there is one at or before the action
    if (!m_scratch)
        m_scratch.emplace();
    Board& scratch = *m_scratch;
    scratch.setClip({});
    scratch.paste(frame->picture.copy(area), area.topLeft());
    scratch.setPens(frame->pens);
    scratch.setClip(action.clear ? QRect() : area);
    auto next = frame + 1;
    for (qint64 s = frame->position; s < qint64(m_steps.size()); ++s) {
        if (next != m_frames.end() && next->position == s) {
            next->picture.replace(scratch.image(), area);
            next->pens = scratch.pens();
            ++next;
        }
        const Entry& e = m_steps[size_t(s)];
        if (e.action >= 0 && m_actions[size_t(e.action)].undone)
            continue;
        scratch.apply(e.step);
    }
    scratch.setClip({});
    m_frameBytes = frameBytes(); // later frames took new tiles
    m_lastChange = difference(scratch.image(), m_board.image(), area);
    if (!m_lastChange.isEmpty()) {
        m_board.paste(scratch.image().copy(m_lastChange), m_lastChange.topLeft());
        m_frames.front().picture.markDirty(m_dirty, m_lastChange);
    }
}

void UndoHistory::keepFrame() {
    m_frames.push_back(Frame{qint64(m_steps.size()),
                             TileFrame::update(m_frames.back().picture, m_board.image(), m_dirty),
                             m_board.pens()});
    const qsizetype tileBytes = qsizetype(TileFrame::TileSize) * TileFrame::TileSize * 4;
    m_frameBytes += qsizetype(std::count(m_dirty.begin(), m_dirty.end(), 1)) * tileBytes;
    m_dirty.assign(m_dirty.size(), 0);
    if (int(m_frames.size()) > MaxFrames || m_frameBytes > FrameBudget) {
        thinFrames();
        m_frameBytes = frameBytes();
    }
}

// Every other frame after the first goes (the newest stays), and new frames
// come at twice the spacing: memory stays bounded, a rebuild replays at most
// about two spacings more.
void UndoHistory::thinFrames() {
    std::vector<Frame> kept;
    for (size_t i = 0; i < m_frames.size(); ++i)
        if (i == 0 || i % 2 == 0 || i + 1 == m_frames.size())
            kept.push_back(std::move(m_frames[i]));
    m_frames = std::move(kept);
    m_spacing *= 2;
}

qsizetype UndoHistory::frameBytes() const {
    std::unordered_set<const QImage*> seen;
    qsizetype bytes = 0;
    for (const Frame& f : m_frames)
        bytes += f.picture.countNew(seen);
    return bytes;
}

// "base <bytes> <chunks>" then "bdata <base64>" lines: the picture beneath the
// history. Read unless the board's own start is known to be it; a block that
// does not add up is dropped.
void UndoHistory::takeBase(const QList<QStringView>& f) {
    if (f[0] == u"base") {
        m_baseData.clear();
        m_baseSeen = 0;
        m_baseChunks = 0;
        bool okBytes = false, okChunks = false;
        if (f.size() != 3)
            return;
        m_baseBytes = f[1].toLongLong(&okBytes);
        m_baseChunks = f[2].toLongLong(&okChunks);
        const qint64 length = (m_baseBytes + 2) / 3 * 4;
        if (!okBytes || !okChunks || m_baseBytes < 1 || length > boardsnapshot::MaxBase64 ||
            m_baseChunks != (length + undowire::MaxBaseChunk - 1) / undowire::MaxBaseChunk)
            m_baseChunks = 0;
        return;
    }
    if (m_baseChunks == 0 || f.size() != 2 ||
        m_baseData.size() + f[1].size() > (m_baseBytes + 2) / 3 * 4) {
        m_baseChunks = 0;
        return;
    }
    m_baseData += f[1].toLatin1();
    if (++m_baseSeen < m_baseChunks)
        return;
    m_baseChunks = 0;
    m_baseInHistory = true;
    if (m_baseKnown)
        return;
    const auto decoded =
        QByteArray::fromBase64Encoding(m_baseData, QByteArray::AbortOnBase64DecodingErrors);
    m_baseData.clear();
    if (!decoded || decoded.decoded.size() != m_baseBytes)
        return;
    QByteArray png = decoded.decoded;
    QBuffer buffer(&png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    if (reader.size() != m_board.image().size())
        return;
    const QImage picture = reader.read().convertToFormat(QImage::Format_RGB32);
    if (picture.size() != m_board.image().size())
        return;
    // The frames after the first were taken over another start: they go, and
    // the next rebuild replays from the picture given here.
    Frame base{0, TileFrame::copyOf(picture), m_frames.front().pens};
    m_frames.clear();
    m_frames.push_back(std::move(base));
    m_dirty.assign(m_dirty.size(), 1); // the board is no longer that frame plus changes
    m_baseKnown = true;
}

bool UndoHistory::needsBase(int n) const {
    return !m_baseInHistory && n == 0 && !m_actions.empty() && m_actions.front().clear;
}

QImage UndoHistory::basePicture() const {
    QImage picture(m_board.image().size(), QImage::Format_RGB32);
    if (!m_frames.empty())
        m_frames.front().picture.paint(picture, picture.rect());
    return picture;
}

qint32 UndoHistory::memberId(const QByteArray& member) {
    const auto it = m_memberIds.constFind(member);
    if (it != m_memberIds.constEnd())
        return *it;
    const qint32 id = qint32(m_members.size());
    m_members.append(member);
    m_memberIds.insert(member, id);
    m_lists.emplace_back();
    return id;
}

const UndoHistory::Lists* UndoHistory::listsOf(const QByteArray& member) const {
    const auto it = m_memberIds.constFind(member);
    return it == m_memberIds.constEnd() ? nullptr : &m_lists[size_t(*it)];
}

std::optional<int> UndoHistory::nextUndo(const QByteArray& member) const {
    const Lists* lists = listsOf(member);
    if (!lists || lists->undo.empty() || m_suspended)
        return std::nullopt;
    return lists->undo.back();
}

std::optional<int> UndoHistory::nextRedo(const QByteArray& member) const {
    const Lists* lists = listsOf(member);
    if (!lists || lists->redo.empty() || m_suspended)
        return std::nullopt;
    return lists->redo.back();
}

int UndoHistory::undoCount(const QByteArray& member) const {
    const Lists* lists = listsOf(member);
    return lists ? int(lists->undo.size()) : 0;
}

int UndoHistory::redoCount(const QByteArray& member) const {
    const Lists* lists = listsOf(member);
    return lists ? int(lists->redo.size()) : 0;
}

void UndoHistory::changed(qint32 owner) {
    if (owner >= 0)
        m_changed.insert(owner);
}

QList<QByteArray> UndoHistory::takeChangedMembers() {
    QList<QByteArray> out;
    for (const qint32 id : std::as_const(m_changed))
        out.append(m_members.at(id));
    m_changed.clear();
    return out;
}

QByteArray UndoHistory::ownerOf(int index) const {
    if (!protocol::hasSlot(index) || m_owner[size_t(index)] < 0)
        return {};
    return m_members.at(m_owner[size_t(index)]);
}
