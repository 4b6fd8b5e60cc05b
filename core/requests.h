// Request records that cross threads, their kinds and codes, the thread identities and the boxes.
#pragma once

#include "core/messagebox.h"

#include <cstdint>
#include <pthread.h>

// Request to the controller, the measure thread or the bus thread.
struct pipe_dial {
    uint16_t kind;
    int32_t code;
    intptr_t auxValue;  // second value, or a pointer to a text or a small array
    intptr_t intValue;  // main value, or a pointer
    float floatValue;
    intptr_t senderId;  // senderValue(thread), -1 for timers, 0 for the user interface
};

// Restart message of the acquisition control thread.
struct TLongArray {
    int32_t code;
    int32_t channelMask;
    int32_t actionBits;
    intptr_t senderId;
};

// Zoom rectangle that zoom requests carry by pointer.
struct TZoomRect {
    float verticalFactor;
    int32_t verticalPosition;
    float windowWidth;
    int32_t windowPosition;
};

// Request kinds: single bits used as plain values.
enum : uint16_t {
    REQ_SET_PARAM = 1,
    REQ_FILE = 2,
    REQ_ACQ_DONE = 8,
    REQ_CHANNEL_STATE = 16,
    REQ_MANUAL_MEAS = 64,
    REQ_SCREEN = 128,
    REQ_BUS_STEP = 256,
    REQ_CHANNEL_STATE2 = 1024,
    REQ_OPERATION_DONE = 2048,
    REQ_SCREEN_SAVER = 8192,
    REQ_PROBE_EVENT = 16384,
};

// REQ_FILE actions.
enum : int32_t {
    fileTraceSave = 0,
    fileTraceSaveAlt = 1,
    fileSetupSave = 4,
    fileSetupApply = 5,
    fileFunctionSave = 6,
    fileHarmonicSave = 8,
    fileLoggerRecall = 9,
    fileBatchRecall = 14,
    fileMaskSave = 15,
    fileTraceRecall = 16,
};

// REQ_BUS_STEP codes.
enum : int32_t {
    BUS_STEP_LOAD = 0,
    BUS_STEP_RELOAD = 1,
    BUS_STEP_ACQUIRED = 2,
    BUS_STEP_START = 3,
    BUS_STEP_NEXT = 4,
    BUS_STEP_STOP = 5,
    BUS_STEP_APPLIED = 7,
};

// Acquisition restart levels (TLongArray::actionBits).
enum : int32_t {
    ACQ_RESTART_FRONT_END = 1,
    ACQ_RESTART_CLEAR = 2,
    ACQ_RESTART_FULL = 8,
    ACQ_RESTART_16 = 16,
    ACQ_RESTART_32 = 32,
};

// Channel-mask bits of TLongArray.
enum : int32_t {
    CH_LIVE_1 = 1, CH_LIVE_2 = 2, CH_LIVE_3 = 4, CH_LIVE_4 = 8,
    CH_REF_1 = 16, CH_REF_2 = 32, CH_REF_3 = 64, CH_REF_4 = 128,
    CH_MEM_1 = 256, CH_MEM_2 = 512, CH_MEM_3 = 1024, CH_MEM_4 = 2048,
    CH_MASK_TRACE = 4096,
    CH_ALL = 8191,
};

constexpr intptr_t kSenderTimer = -1;
constexpr intptr_t kSenderUserInterface = 0;
// The hardcopy key's request: no thread has this value. The controller treats it as an SCPI
// request for activity, the held meter, the request key and the screen saver, never for the
// SCPI hand-off.
constexpr intptr_t kSenderHardcopyKey = -2;

// The sender value that a thread identity travels as.
intptr_t senderValue(pthread_t thread);

// Thread identities, written by the pthread_create that starts each thread; 0 until then.
extern pthread_t COMM_id;
extern pthread_t tWEBSd_id;
extern pthread_t tAPPLd_id;
extern pthread_t tSADMd_id;
extern pthread_t SCPI_id;
extern pthread_t MEAS_id;
extern pthread_t tBUS_id;
extern pthread_t tSDCARD_id;
extern pthread_t TRAD_id;
extern pthread_t ACQU_id;
extern pthread_t RTAC_id;
extern pthread_t tItAcq_id;
extern pthread_t MENU_id;  // nobody writes it: the user interface is sender 0

// The four boxes, never destroyed: detached threads post into them up to the last instant.
extern TTavlinMessageBox<pipe_dial>& o_g_consMessageBox;
extern TTavlinMessageBox<pipe_dial>& o_g_measMessageBox;
extern TTavlinMessageBox<pipe_dial>& o_g_busMessageBox;
extern TTavlinMessageBox<TLongArray>& o_g_acquMessageBox;

constexpr int kMessageBoxSlots = 128;
