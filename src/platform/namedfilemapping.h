#pragma once

#include <string>

namespace platform {

// A named object that exists exactly as long as the process holding it lives.
// It is an abstract-namespace Unix datagram socket bound to "<name>/<uid>": the
// kernel drops the name when the last descriptor closes, also when the holder is
// killed, so a crashed process never leaves a stale object behind. The user id
// keeps the objects of different users apart. The descriptor is not inherited
// by started programs, so a started client never keeps it alive. A program of
// the same user announces itself the same way and is seen by exists().
class TNamedFileMapping {
public:
    // With create false only the name is kept. With create true the object is
    // taken unless a live process already holds the name, in which case this
    // instance holds nothing. Throws std::runtime_error when it cannot be made.
    TNamedFileMapping(const char* name, bool create);
    ~TNamedFileMapping();

    TNamedFileMapping(const TNamedFileMapping&) = delete;
    TNamedFileMapping& operator=(const TNamedFileMapping&) = delete;

    const std::string& name() const { return m_Name; }

    // True when this instance holds the object (and not another process).
    bool holdsObject() const { return m_Handle >= 0; }

    // True when a live process (this one included) holds an object of this name.
    static bool exists(const char* name);

private:
    int m_Handle = -1;
    std::string m_Name;
};

} // namespace platform
