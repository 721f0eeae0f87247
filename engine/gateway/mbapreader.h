#ifndef MBAPREADER_H
#define MBAPREADER_H

#include <QByteArray>

// A Modbus TCP client's stream taken apart into its requests, whatever the
// pieces it comes in: the MBAP header (transaction, protocol 0, length of
// the unit and PDU that follow, unit), then the PDU (function code and
// data). Requests follow each other without a pause (a client may send
// many before the first is answered).
//
// A header that is none (a protocol other than 0, a length no PDU has:
// less than a function code, more than the largest PDU) puts the stream
// out of step: nothing after it can be told apart, and the reader takes no
// more (the client is dropped). The bytes held are bounded by the largest
// frame and what one feed() brings; they are taken off by offset, so any
// stream is read in linear time.
class MbapReader
{
public:
    struct Request {
        quint16 transaction = 0;
        quint8 unit = 0;
        QByteArray pdu; // function code and data, as the client sent them
    };

    void feed(const QByteArray &bytes);
    // The next whole request; false when none is whole yet (or the stream
    // is out of step).
    bool next(Request *request);
    bool outOfStep() const { return broken; }
    // Bytes of a request begun and not yet whole: a client that stops here
    // blocks nobody, and is dropped after its time.
    bool midFrame() const { return !broken && held() > 0; }
    int held() const { return int(buffer.size()) - offset; }

private:
    QByteArray buffer;
    int offset = 0; // where the next request starts in buffer
    bool broken = false;
};

#endif // MBAPREADER_H
