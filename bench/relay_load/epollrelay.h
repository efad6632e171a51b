#pragma once

// The floor of what one core can relay: a drawing relay in plain C++ on
// epoll, without Qt. It frames at "\r\n", puts the sender's index in front
// and queues the line for every other connection; what one pass over the
// ready connections produced goes out with one send() per connection, the
// rest when the socket takes more. Each newcomer gets "0:8:0" so that the load clients see a
// greeting end. Prints "port N" once it listens on 127.0.0.1, then serves until killed; returns
// non-zero when it cannot listen.
int runEpollRelay();
