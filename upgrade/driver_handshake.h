// The two exchanges with the installed driver's virtual devices, before the files are
// replaced and after they are placed.
#ifndef UPGRADE_DRIVER_HANDSHAKE_H
#define UPGRADE_DRIVER_HANDSHAKE_H

#include <windows.h>

// The program's own exception type. It never leaves the handshake that throws it.
class CPellamUpgrade {
public:
    class CMyError {
    public:
        explicit CMyError(LONG errorCode) : code(errorCode) {}
        LONG code;
    };
};

// Error codes that a failed handshake stores in LastHandshakeError.
enum HandshakeErrorCode : LONG {
    ErrorOpenSetupDevice = 1,
    ErrorOpenCoreDevice = 2,
    ErrorCoreQuery = 3,     // 0x1D2A68 on the core device
    ErrorSetupExchange = 4, // 0x10002 on the setup device
    ErrorSetupPrepare = 5,  // 0x10001 on the setup device
    ErrorSetupQuery = 6,    // 0x10004 on the setup device
    ErrorSetupCommit = 7,   // 0x10003 on the setup device
};

extern const char CoreDeviceName[];   // "\\.\br10core.vxd"
extern const char SetupDeviceName[];  // "\\.\br10setp.vxd"

// The first handshake: true on success; on failure the code is in LastHandshakeError.
bool HandshakeBefore();
// The second handshake: true on success; on failure the code is in LastHandshakeError.
bool HandshakeAfter();

#endif
