#include "drawinghistory.h"

#include <limits>

DrawingHistory::DrawingHistory() : m_blocks(BlockCount) {}

void DrawingHistory::append(QByteArrayView line, bool blockTest) {
    if (m_observer)
        m_observer->appending(line, blockTest);
    if (canStore(line)) {
        m_blocks[m_blockNo].append(line);
        ++m_stored;
        m_bytes += line.size();
    } else if (!isFull()) {
        m_bytesFull = true;
    }
    // Both counters are 16-bit; a step that would overflow is skipped, as
    // every failing step of the relay is.
    if (m_lines == std::numeric_limits<qint16>::max())
        return;
    ++m_lines;
    if (blockTest && m_lines > LineLimit && m_blockNo < std::numeric_limits<qint16>::max()) {
        ++m_blockNo;
        m_lines = 0;
    }
}

void DrawingHistory::clear() {
    if (m_observer)
        m_observer->clearing();
    for (QByteArray& block : m_blocks)
        block = QByteArray();
    m_blockNo = 0;
    m_lines = 0;
    m_stored = 0;
    m_bytes = 0;
    m_bytesFull = false;
}

QByteArray DrawingHistory::fileContent() const {
    const int last = qMin<int>(m_blockNo, LastBlock);
    qsizetype size = 0;
    for (int i = 0; i <= last; ++i)
        size += m_blocks.at(i).size() + 2;
    QByteArray content;
    content.reserve(size);
    for (int i = 0; i <= last; ++i) {
        content.append(m_blocks.at(i));
        content.append("\r\n");
    }
    return content;
}

DrawingHistory::State DrawingHistory::state() const {
    return {m_blocks, m_blockNo, m_lines, m_stored, m_bytes, m_bytesFull};
}

bool DrawingHistory::restore(const State& state) {
    if (state.blocks.size() != BlockCount || state.blockNo < 0 || state.lines < 0 ||
        state.stored < 0)
        return false;
    qsizetype bytes = 0;
    for (const QByteArray& block : state.blocks)
        bytes += block.size();
    if (bytes != state.bytes || bytes > ByteLimit)
        return false;
    m_blocks = state.blocks;
    m_blockNo = state.blockNo;
    m_lines = state.lines;
    m_stored = state.stored;
    m_bytes = state.bytes;
    m_bytesFull = state.bytesFull;
    return true;
}
