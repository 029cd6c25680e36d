// The program's own proxy and stub of IServiceProvider. Wine publishes a
// local server's class object to other processes through that interface,
// and its marshaling code for it sits in a library of every ActiveX
// interface that Wine has to relocate into about 1 MB of private memory.
// Registered while the class objects are published, the code built into the
// program makes their stubs instead; a caller in another process sees the
// same wire format, which both take from the system's own IDL. The
// registration is kept that short because Wine lets every apartment of the
// process see it, while only the registering one reaches the factory.
#pragma once

#include <windows.h>

namespace automation {

class ServiceProviderMarshal {
public:
    // Registers the proxy and stub, reachable from the calling thread's
    // apartment; raises when COM refuses.
    ServiceProviderMarshal();
    // Withdraws the class object and hands the interface back to the
    // proxy and stub that the system had chosen.
    ~ServiceProviderMarshal();
    ServiceProviderMarshal(const ServiceProviderMarshal&) = delete;
    ServiceProviderMarshal& operator=(const ServiceProviderMarshal&) = delete;

private:
    // Withdrawn at the end, also of a constructor that raises.
    struct ClassObject {
        DWORD cookie = 0;
        ClassObject() = default;
        ClassObject(const ClassObject&) = delete;
        ClassObject& operator=(const ClassObject&) = delete;
        ~ClassObject();
    };
    ClassObject classObject_;
    CLSID previous_ = {};
    bool hadPrevious_ = false;
};

}  // namespace automation
