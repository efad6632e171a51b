#include "relaykeeper.h"

#include "boardjournal.h"
#include "drawinghistory.h"
#include "drawingrelay.h"
#include "endpointarray.h"
#include "heartbeatwatcher.h"
#include "linkkeeper.h"
#include "membersessions.h"
#include "textrelay.h"

RelayKeeper::RelayKeeper(const QString& directory, Parts parts, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)),
      m_sessions(std::make_unique<MemberSessions>(m_parts.ws)),
      m_journal(std::make_unique<BoardJournal>(
          directory, BoardJournal::Parts{JournalTarget{m_parts.drawing, m_parts.history,
                                                       *m_sessions, m_parts.loadPictureFile},
                                         m_parts.log})),
      m_drawingWatch(std::make_unique<HeartbeatWatcher>(m_parts.ws)),
      m_textWatch(std::make_unique<HeartbeatWatcher>(m_parts.wsTxt)),
      m_links(std::make_unique<LinkKeeper>(m_parts.ws, *m_sessions, *m_drawingWatch)),
      m_textLinks(std::make_unique<TextLinkKeeper>(m_parts.wsTxt, *m_textWatch)) {
    m_parts.history.setObserver(m_journal.get());
    m_parts.drawing.setRecorder(m_journal.get());
    m_parts.drawing.addExtensionReader(m_links.get());
    m_parts.text.setExtensionReader(m_textLinks.get());
    connect(m_journal.get(), &BoardJournal::durableAdvanced, m_links.get(),
            &LinkKeeper::durableAdvanced);
    m_parts.ws.setKeepAlive(DeadLink);
    m_parts.wsTxt.setKeepAlive(DeadLink);
}

RelayKeeper::~RelayKeeper() {
    m_parts.history.setObserver(nullptr);
    m_parts.drawing.setRecorder(nullptr);
    m_parts.drawing.removeExtensionReader(m_links.get());
    m_parts.text.setExtensionReader(nullptr);
}

void RelayKeeper::open(bool journal) {
    if (journal)
        m_journal->open();
    else
        m_journal->openWithout();
}

void RelayKeeper::finish(bool pictureSaved) {
    m_journal->finish(pictureSaved);
}

void RelayKeeper::setHeartbeatTimeoutMs(int ms) {
    m_drawingWatch->setTimeoutMs(ms);
    m_textWatch->setTimeoutMs(ms);
}
