// The spool: a folder of records waiting to be delivered, one file each,
// named so that the names sort in the order the records were put:
//
//     SPOOL/20261208T101502.123456Z-<key>.json     the record, as it is sent
//     SPOOL/rejected/<same name>                    a record the server refused
//     SPOOL/rejected/<same name>.answer             the server's answer to it
//
// <key> is the record's idempotency key, a random UUID made when it is put:
// every attempt to send that record carries the same key.  A record is
// written to a hidden temporary file, flushed to the disk, and renamed into
// place, so a crash leaves a record whole or not there at all.  Any number
// of processes may put records into one spool; one sender at a time (the
// holder of SpoolLock) takes them out.
#ifndef ORVANE_CLI_DELIVER_SPOOL_H
#define ORVANE_CLI_DELIVER_SPOOL_H

#include <string>
#include <vector>

class Spool
{
public:
    // Makes the folder and rejected/ when missing; false with the reason
    // when they cannot be made or written.
    bool Open(const std::string& folder, std::string* error);
    const std::string& Folder() const { return folder_; }

    // A record in two steps: Prepare writes it to a temporary file and
    // flushes it; Commit renames it into the queue.  A record prepared and
    // never committed is never sent; Discard removes it.
    bool Prepare(const std::string& record, std::string* error);
    bool Commit(std::string* error);
    void Discard();
    bool Put(const std::string& record, std::string* error) { return Prepare(record, error) && Commit(error); }

    // The records that wait, oldest first (file names), and how many were
    // rejected.
    std::vector<std::string> Waiting() const;
    size_t Rejected() const;

    bool Read(const std::string& name, std::string* record) const;
    bool Remove(const std::string& name) const;
    // Into rejected/, the answer beside it.
    bool Reject(const std::string& name, const std::string& answer) const;

private:
    std::string folder_;
    std::string prepared_, final_;   // the temporary file and the name it gets
};

// A record's idempotency key, from its file name.
std::string RecordKey(const std::string& name);

// A new random UUID (version 4).
std::string NewKey();

// Held by the one process that sends from a spool.
class SpoolLock
{
public:
    SpoolLock() = default;
    ~SpoolLock();
    SpoolLock(const SpoolLock&) = delete;
    SpoolLock& operator=(const SpoolLock&) = delete;
    // False when another process holds it (or the folder cannot be locked).
    bool Try(const std::string& folder);
    bool Held() const { return held_; }

private:
    bool held_ = false;
    long long handle_ = -1;
};

#endif
