#pragma once

#include <string>

namespace veltra {

// The controller's end of the line: the master side of a pseudo-terminal
// whose slave a client (the utility, a test, a terminal program) opens like a
// serial port. Line settings are raw in both directions.
//
// Linux reports "no client" on the master as POLLHUP and reads failing with
// EIO; that is a client leaving, not an error. We hold no slave descriptor of
// our own, so that state stays visible and output can be dropped while nobody
// listens instead of piling up for the next client.
class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Makes the pseudo-terminal and, when `link` is not empty, the symbolic
    // link to its slave. Returns an error text, empty on success.
    std::string open(const std::string& link);

    int fd() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

    // True while some client has the slave open.
    bool clientPresent() const;

    // After a client left: clears an exclusive-use flag it may have left set
    // (a client that dies never clears it, and nobody but root could open
    // the line again) and drops output it did not read. Returns false when
    // the line cannot be opened any more; renew() then gives a fresh one.
    bool tidyAfterClient();

    // Replaces the pseudo-terminal with a new one and re-points the link.
    // Returns an error text, empty on success.
    std::string renew();

    // Removes the link if it still points to our slave.
    void removeLink();

private:
    std::string create();
    std::string makeLink();
    void closeMaster();

    int m_master = -1;
    std::string m_slavePath;
    std::string m_link;
};

}  // namespace veltra
