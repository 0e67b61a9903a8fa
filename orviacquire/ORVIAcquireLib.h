#pragma once
/*
 * ORVIAcquireLib: the detector's acquisition and correction library.
 *
 * This build of the library drives a simulated flat-panel detector (see "The
 * simulated detector" at the end). It offers the same C interface a library for
 * the real panel offers, so the program cannot tell the two apart; a library
 * with this ABI can replace it.
 *
 * Calling rules
 * -------------
 * - Plain C, fixed-width types, usable from C and C++. Every call is made on
 *   one thread, the host's (the thread that runs the dispatcher's tasks). The
 *   library starts no thread and takes no lock.
 * - Before the first Acquisition_Initialize the host installs a dispatcher
 *   (AcquisitionExt_SetDispatcher). All timed work of the library and every
 *   callback run as tasks posted through it, never inside an API call. So the
 *   callbacks arrive on the host's thread, one at a time, between the host's
 *   own events, between Acquisition_Initialize and Acquisition_Close.
 * - Callbacks may call any function of this library, Acquisition_Close of
 *   their own handle included. While a callback runs (a host may run a nested
 *   event loop inside it, for a modal message box), the library delivers no
 *   other callback: tasks that come due meanwhile wait until it has returned.
 * - After Acquisition_Close nothing of that detector runs any more: the tasks
 *   it had posted find nothing to do when the host runs them. Handles are never
 *   reused within a process.
 * - A handle that is 0, closed or unknown, and a null pointer where a pointer
 *   is needed, give an error result (below) and never crash.
 *
 * Results
 * -------
 * - Acquisition_Initialize: 0 with a non-zero handle written, one of the four
 *   ORVIACQ_INIT_* failures, or an ORVIACQ_ERR_* error.
 * - Acquisition_ReadDRConfig, Acquisition_DRConfigUpdateAll,
 *   Acquisition_ResetDRConfig: 1 when the request went to the detector, 0 when
 *   it did not (bad handle, link down).
 * - Unsigned getters and the VT getter: the value, or 0 for a bad handle.
 * - Every other call with a result: 0 on success, a negative ORVIACQ_ERR_*
 *   otherwise. Registering a callback returns 0 or ORVIACQ_ERR_HANDLE.
 */
#include <stdint.h>

#if defined(ORVIACQUIRE_BUILDING_LIBRARY) && defined(__GNUC__)
#define ORVIACQ_API __attribute__((visibility("default")))
#else
#define ORVIACQ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ sizes */

/* A frame buffer handed to the image callback always holds a full frame of
 * ORVIACQ_FRAME_WIDTH x ORVIACQ_FRAME_HEIGHT 16-bit pixels (18,874,368 bytes). */
#define ORVIACQ_FRAME_WIDTH 3072
#define ORVIACQ_FRAME_HEIGHT 3072
#define ORVIACQ_FRAME_PIXELS (ORVIACQ_FRAME_WIDTH * ORVIACQ_FRAME_HEIGHT)
/* Pixel values lie within 14 bits: 0 to ORVIACQ_MAX_PIXEL. */
#define ORVIACQ_MAX_PIXEL 16383

/* Size of each text field of the open record and of a list node's name. */
#define ORVIACQ_TEXT_SIZE 260

/* -------------------------------------------------------- result values */

#define ORVIACQ_OK 0

/* Failures of Acquisition_Initialize. */
#define ORVIACQ_INIT_SERIAL_PORT (-1) /* the serial port cannot be opened */
#define ORVIACQ_INIT_NETWORK (-2)     /* no detector answers on the network */
#define ORVIACQ_INIT_ADAPTER (-3)     /* the network adapter cannot be opened */
#define ORVIACQ_INIT_LINK_SPEED (-4)  /* the link does not run at 1000 Mbit/s */

/* Errors. */
#define ORVIACQ_ERR_NO_DISPATCHER (-10)   /* Initialize before a dispatcher was installed */
#define ORVIACQ_ERR_ARGUMENT (-11)        /* null pointer, bad index, flag other than 0 or 1 */
#define ORVIACQ_ERR_HANDLE (-12)          /* handle 0, closed or unknown */
#define ORVIACQ_ERR_RANGE (-13)           /* a value the detector cannot hold */
#define ORVIACQ_ERR_LINK (-14)            /* the link to the detector is down */
#define ORVIACQ_ERR_BUSY (-15)            /* too many frame requests waiting */
#define ORVIACQ_ERR_CORRECTION_FILE (-16) /* the correction file cannot be loaded */
#define ORVIACQ_ERR_STATE (-17)           /* not allowed now (see the call) */

/* States of the exposure-control callback. */
#define ORVIACQ_AEC_ENABLED 1    /* the detector is ready for X-ray */
#define ORVIACQ_AEC_DISABLED 999 /* the detector no longer takes X-ray */

/* ------------------------------------------------------ parameter packet */

/* The detector's parameter block reaches the serial callback as a packet of
 * ORVIACQ_PACKET_SIZE bytes; byte 131 is the XOR of bytes 3 to 130. The library
 * checks the sum itself and renews the values of the getters only from a
 * packet whose sum is right. Layout (16-bit values little-endian):
 *    0  0xA5        1  0x5A        2  packet type 0x52 (parameter block)
 *    3  block format 1             4  detector index (0 or 1)
 *    5  VT in millivolts           7  PGA
 *    9  AecExpTime (ms)           11  Integrate (us)
 *   13  SerialTimeSpan (ms)       15  AecMode
 *   17  AecSensor, 4 bytes of 0/1 21  AecGain, 4 bytes of 0/1
 *   25  SetDelayTime (ms)         27  ClearTime (ms)
 *   29  version triple, 3 x 16 bits
 *   35  serial number, 16 bytes of ASCII padded with NUL
 *   51 to 130 reserved (0)       131  checksum
 * Acquisition_DRConfigUpdateAll is answered with a short acknowledgement of
 * ORVIACQ_ACK_SIZE bytes (0xA5 0x5A 0x41 then the index and zeros), which a
 * host that waits for parameter blocks ignores by its length. */
#define ORVIACQ_PACKET_SIZE 132
#define ORVIACQ_PACKET_CHECKSUM_FIRST 3
#define ORVIACQ_PACKET_CHECKSUM_LAST 130
#define ORVIACQ_PACKET_CHECKSUM_AT 131
#define ORVIACQ_ACK_SIZE 8

/* ------------------------------------------------------------------ types */

/* Detector handle: opaque, 0 means not open. */
typedef uint32_t ORVIAcqHandle;

/* Open record, passed by value to Acquisition_Initialize. The texts are UTF-8
 * and NUL-terminated within their field (a field filled to its end without a
 * NUL is read up to its end). */
typedef struct ORVIAcqOpenRecord {
    int32_t nDetectorIndex;                  /* 0 detector A, 1 detector B */
    char szIniPath[ORVIACQ_TEXT_SIZE];       /* full path of ORVI2.ini */
    char szProgramFolder[ORVIACQ_TEXT_SIZE]; /* program folder, with its final '/' */
} ORVIAcqOpenRecord;

/* Node of the adapter list (and of the serial port list): a pointer to the
 * next node (null ends the list), then the name as NUL-terminated text. */
typedef struct ORVIAcqListNode {
    struct ORVIAcqListNode* pNext;
    char szName[ORVIACQ_TEXT_SIZE];
} ORVIAcqListNode;

/* Serial callback: (handle, a value that is not used (0), received bytes,
 * byte count, user pointer). The bytes are valid during the call only. */
typedef void (*ORVIAcqComCallback)(ORVIAcqHandle hDetector, int32_t nUnused, const uint8_t* pBytes, int32_t nCount,
                                   void* pUser);

/* Exposure-control callback: (handle, state, user pointer), state
 * ORVIACQ_AEC_ENABLED or ORVIACQ_AEC_DISABLED. */
typedef void (*ORVIAcqAecCallback)(ORVIAcqHandle hDetector, int32_t nState, void* pUser);

/* Image callback: (handle, pixels, user pointer). The pixels are one frame,
 * row-major, width x height of the detector (3072 x 3072; see
 * AcquisitionSim_GetFrameSize), at the start of a buffer of
 * ORVIACQ_FRAME_PIXELS that the library owns. The callee may read and
 * overwrite the whole buffer during the call; the library reuses it for the
 * detector's next frame and writes only the frame's own pixels. */
typedef void (*ORVIAcqImageCallback)(ORVIAcqHandle hDetector, uint16_t* pPixels, void* pUser);

/* -------------------------------------------- dispatcher (extension call) */

typedef void (*ORVIAcqTask)(void* pArg);

/* What the host offers the library to run its work on:
 *   now_ms(context)  milliseconds of a steady clock; may wrap at 32 bits;
 *   post(context, delay, task, arg)  runs task(arg) once on the host's thread,
 *                    about delay ms from now and never inside post() itself.
 * Tasks may run in any order and a little early or late: the library keeps
 * its own ordered schedule and a task only tells it to catch up. It passes
 * plain integers in arg, so a host that drops tasks unrun (when it shuts down)
 * leaks nothing. */
typedef struct ORVIAcqDispatcher {
    void* pContext;
    uint32_t (*now_ms)(void* pContext);
    void (*post)(void* pContext, uint32_t nDelayMs, ORVIAcqTask fnTask, void* pArg);
} ORVIAcqDispatcher;

/* Installs a copy of the dispatcher; null removes it. ORVIACQ_ERR_STATE while
 * a detector is open (close them first), ORVIACQ_ERR_ARGUMENT when a function
 * pointer is missing. */
ORVIACQ_API int32_t AcquisitionExt_SetDispatcher(const ORVIAcqDispatcher* pDispatcher);

/* ------------------------------------------------------------ connection */

/* Opens detector record.nDetectorIndex (0 or 1) through the serial port and
 * the network adapter named (UTF-8 names; ports are matched without regard to
 * case). On success writes a non-zero handle to *pHandle and returns 0. On
 * failure returns ORVIACQ_INIT_* (how to provoke each: see the end of this
 * header) or ORVIACQ_ERR_NO_DISPATCHER / ORVIACQ_ERR_ARGUMENT, and leaves
 * *pHandle as it was. The settings of the simulated detector are read from
 * section [SIMULATOR] of the file record.szIniPath, once per call. Right after
 * a successful open the getters hold the block read while connecting. */
ORVIACQ_API int32_t Acquisition_Initialize(ORVIAcqOpenRecord record, const char* szPortName, const char* szAdapterName,
                                           ORVIAcqHandle* pHandle);

/* Closes the detector: its callbacks are dropped with every pending frame,
 * report and packet. 0 or ORVIACQ_ERR_HANDLE. */
ORVIACQ_API int32_t Acquisition_Close(ORVIAcqHandle hDetector);

/* The network adapters, or null when there is none. The list belongs to the
 * caller until Acquisition_GigeFreeAdapterList, which accepts null and ignores
 * a pointer that is not the head of a list this library returned. */
ORVIACQ_API ORVIAcqListNode* Acquisition_GigeGetAdapterList(void);
ORVIACQ_API void Acquisition_GigeFreeAdapterList(ORVIAcqListNode* pHead);

/* Extension: the serial ports the library offers, in the same shape and with
 * the same rules; the host lists them beside the serial device nodes. */
ORVIACQ_API ORVIAcqListNode* AcquisitionExt_GetSerialPortList(void);
ORVIACQ_API void AcquisitionExt_FreeSerialPortList(ORVIAcqListNode* pHead);

/* ------------------------------------------------------------- callbacks */

/* Registers a callback and its user pointer for the detector; a null function
 * removes it. 0 or ORVIACQ_ERR_HANDLE. */
ORVIACQ_API int32_t Acquisition_SetComCallback(ORVIAcqHandle hDetector, ORVIAcqComCallback fnCallback, void* pUser);
ORVIACQ_API int32_t Acquisition_GigeAdapterObjectSetImageCallback(ORVIAcqHandle hDetector,
                                                                  ORVIAcqImageCallback fnCallback, void* pUser);
ORVIACQ_API int32_t Acquisition_SetAecCallback(ORVIAcqHandle hDetector, ORVIAcqAecCallback fnCallback, void* pUser);

/* ------------------------------------------------------------ parameters */

/* Three copies of the parameter block:
 *  - the detector's own (its registers);
 *  - the library's: what the getters return. It is the block of the last
 *    parameter packet whose checksum was right (the first is read while
 *    Acquisition_Initialize connects);
 *  - the staged changes: each setter checks one value and stages it; nothing
 *    reaches the detector before Acquisition_DRConfigUpdateAll.
 *
 * Acquisition_ReadDRConfig: asks the detector for its block. 1 = request sent;
 *   the packet arrives SERIAL_MS later through the serial callback, and from
 *   then on the getters return its values (if its checksum is right).
 * Acquisition_DRConfigUpdateAll: sends the staged values to the detector and
 *   empties the staging (1 = sent, also when nothing was staged). The getters
 *   keep their values until the next read. The detector acknowledges after
 *   SERIAL_MS with a short packet (ORVIACQ_ACK_SIZE bytes).
 * Acquisition_ResetDRConfig: the detector restores its factory values; the
 *   staging is dropped. 1 = sent; the detector answers after SERIAL_MS with
 *   its new block through the serial callback, as for a read.
 *
 * Factory values: VT 2.50 V, PGA 5, AecExpTime 0 ms, Integrate 100 us,
 * SerialTimeSpan 3000 ms, AecMode 1, AecSensor 0,1,0,0, AecGain 1,0,0,0,
 * SetDelayTime 1000 ms, ClearTime 1500 ms, version 4,5,10 (a host that shows
 * "8.%d.%d.%d" of a-3, b-3, c-7 shows 8.1.2.3).
 *
 * Setters return 0 when staged, ORVIACQ_ERR_RANGE for a value the detector
 * cannot hold (nothing is staged), ORVIACQ_ERR_HANDLE. Ranges: VT 1.25 to 4.50
 * (compared in whole millivolts); PGA 0 to 7; AecExpTime, SerialTimeSpan,
 * SetDelayTime, ClearTime 0 to 65535; Integrate 1 to 65535; AecMode 0 or 1;
 * sensor and gain flags 0 or 1. Staging works with the link down; sending
 * does not.
 *
 * What the values do in the simulated detector: PGA scales the signal (PGA 5
 * = the DOSE key's level; 0..7 give 0.40, 0.50, 0.60, 0.70, 0.85, 1.00, 1.20,
 * 1.45 times); AecExpTime times the simulated generator (AUTO_FIRE_MS);
 * SetDelayTime is the detector's inner delay. The others are kept and
 * reported only. */
ORVIACQ_API int32_t Acquisition_ReadDRConfig(ORVIAcqHandle hDetector);
ORVIACQ_API int32_t Acquisition_DRConfigUpdateAll(ORVIAcqHandle hDetector);
ORVIACQ_API int32_t Acquisition_ResetDRConfig(ORVIAcqHandle hDetector);

ORVIACQ_API int32_t Acquisition_SetDRConfigVT(ORVIAcqHandle hDetector, float fVolts);
ORVIACQ_API int32_t Acquisition_SetDRConfigPGA(ORVIAcqHandle hDetector, int32_t nPga);
ORVIACQ_API int32_t Acquisition_SetDRConfigAecExpTime(ORVIAcqHandle hDetector, int32_t nMs);
ORVIACQ_API int32_t Acquisition_SetDRConfigIntegrate(ORVIAcqHandle hDetector, int32_t nUs);
ORVIACQ_API int32_t Acquisition_SetDRConfigSerialTimeSpan(ORVIAcqHandle hDetector, int32_t nMs);
ORVIACQ_API int32_t Acquisition_SetDRConfigAecMode(ORVIAcqHandle hDetector, int32_t nMode);
ORVIACQ_API int32_t Acquisition_SetDRConfigAecSensor(ORVIAcqHandle hDetector, int32_t nSensor1, int32_t nSensor2,
                                                     int32_t nSensor3, int32_t nReset);
ORVIACQ_API int32_t Acquisition_SetDRConfigAecGain(ORVIAcqHandle hDetector, int32_t nGain0, int32_t nGain1,
                                                   int32_t nGain2, int32_t nGain3);
ORVIACQ_API int32_t Acquisition_SetDRConfigSetDelayTime(ORVIAcqHandle hDetector, int32_t nMs);
ORVIACQ_API int32_t Acquisition_SetDRConfigClearTime(ORVIAcqHandle hDetector, int32_t nMs);

/* Getters: the library's copy (see above). The pointer getters write all their
 * out values and return 0, or write nothing and return ORVIACQ_ERR_HANDLE or
 * ORVIACQ_ERR_ARGUMENT (any null pointer). */
ORVIACQ_API int32_t Acquisition_GetDRConfigVersion(ORVIAcqHandle hDetector, int32_t* pMajor, int32_t* pMinor,
                                                   int32_t* pBuild);
ORVIACQ_API float Acquisition_GetDRConfigVT(ORVIAcqHandle hDetector);
ORVIACQ_API uint16_t Acquisition_GetDRConfigPGA(ORVIAcqHandle hDetector);
ORVIACQ_API uint16_t Acquisition_GetDRConfigAecExpTime(ORVIAcqHandle hDetector);
ORVIACQ_API uint16_t Acquisition_GetDRConfigIntegrate(ORVIAcqHandle hDetector);
ORVIACQ_API uint16_t Acquisition_GetDRConfigSerialTimeSpan(ORVIAcqHandle hDetector);
/* AecMode (0 or 1), or ORVIACQ_ERR_HANDLE. */
ORVIACQ_API int32_t Acquisition_GetDRConfigAecMode(ORVIAcqHandle hDetector);
ORVIACQ_API int32_t Acquisition_GetDRConfigAecSensor(ORVIAcqHandle hDetector, int32_t* pSensor1, int32_t* pSensor2,
                                                     int32_t* pSensor3, int32_t* pReset);
ORVIACQ_API int32_t Acquisition_GetDRConfigAecGain(ORVIAcqHandle hDetector, int32_t* pGain0, int32_t* pGain1,
                                                   int32_t* pGain2, int32_t* pGain3);
ORVIACQ_API uint16_t Acquisition_GetDRConfigSetDelayTime(ORVIAcqHandle hDetector);
ORVIACQ_API uint16_t Acquisition_GetDRConfigClearTime(ORVIAcqHandle hDetector);
/* The delay the detector is working with now: the SetDelayTime in its
 * registers, read live (no read request needed). 0 with the link down. */
ORVIACQ_API uint16_t Acquisition_GetInnerDelayTime(ORVIAcqHandle hDetector);
/* Extension: the detector's serial number from the library's copy of the
 * block (the simulated detector's is "SIMA" or "SIMB" and its SEED in eight
 * digits; a reset keeps it), as text cut to nSize - 1 characters and ended by
 * a NUL. 0, ORVIACQ_ERR_HANDLE, or ORVIACQ_ERR_ARGUMENT for a null buffer or
 * an nSize below 1. */
ORVIACQ_API int32_t AcquisitionExt_GetDetectorSerial(ORVIAcqHandle hDetector, char* pBuffer, int32_t nSize);

/* ----------------------------------------------------------- acquisition */

/* Each returns at once (0, ORVIACQ_ERR_HANDLE, ORVIACQ_ERR_LINK or
 * ORVIACQ_ERR_BUSY); what it starts happens later through the dispatcher, and
 * a frame always comes through the image callback, never inside the call.
 *
 * Acquisition_StartAecReady arms the detector: it clears the panel for
 * ENABLE_MS and then reports ORVIACQ_AEC_ENABLED. It waits for X-ray for
 * EXPOSURE_WINDOW_MS; when none comes it reports ORVIACQ_AEC_DISABLED and
 * disarms without a frame. When the X-ray comes (from the simulated generator,
 * AUTO_FIRE_MS, or AcquisitionSim_FireXray) it reports ORVIACQ_AEC_DISABLED at
 * once and delivers the exposure READOUT_MS later. Arming again while armed
 * (or still clearing) restarts the exposure window: the panel clears again and
 * ORVIACQ_AEC_ENABLED is reported again after ENABLE_MS; the generator keeps
 * its time. X-ray that arrives while the panel clears is taken as soon as it
 * reports enabled.
 *
 * Acquisition_StartClearTimeAcquisition clears the panel, integrates nDelayMs
 * without X-ray and reads it out: the dark frame arrives nDelayMs + READOUT_MS
 * after the call. Acquisition_StartAcquisition reads the panel at once without
 * clearing it: a dark frame arrives READOUT_MS after the call.
 *
 * A frame request while the detector is armed ends the exposure window
 * (ORVIACQ_AEC_DISABLED is reported if it had reported enabled) and stops the
 * generator. Any request made while a frame is on its way waits its turn and
 * starts when that frame is read out, before the image callback of that
 * frame runs; so every frame request yields exactly one frame, in the order
 * of the requests (at most 16 waiting, then ORVIACQ_ERR_BUSY). */
ORVIACQ_API int32_t Acquisition_StartAecReady(ORVIAcqHandle hDetector);
ORVIACQ_API int32_t Acquisition_StartAcquisition(ORVIAcqHandle hDetector);
ORVIACQ_API int32_t Acquisition_StartClearTimeAcquisition(ORVIAcqHandle hDetector, uint16_t nDelayMs);

/* ------------------------------------------------------------ correction */

/* The library's own corrections, applied to every frame it delivers while on:
 * gain (every responding pixel brought to the panel's mean gain), defect (the planted
 * defects replaced by the mean of their good neighbours), offset from the
 * stored offset file (Offset2) and automatic offset (both replace each
 * pixel's dark offset by a flat ORVIACQ_OFFSET_PEDESTAL). nOn is 0 or 1,
 * otherwise ORVIACQ_ERR_ARGUMENT. Switching on loads the correction file: when
 * it cannot be loaded (see MISSING_CORRECTION) the result is
 * ORVIACQ_ERR_CORRECTION_FILE and the correction is off. Switching off always
 * succeeds. Automatic offset needs no file. */
#define ORVIACQ_OFFSET_PEDESTAL 100
ORVIACQ_API int32_t Correction_SetDoGain(ORVIAcqHandle hDetector, int32_t nOn);
ORVIACQ_API int32_t Correction_SetDoDefect(ORVIAcqHandle hDetector, int32_t nOn);
ORVIACQ_API int32_t Correction_SetDoOffset2(ORVIAcqHandle hDetector, int32_t nOn);
ORVIACQ_API int32_t Correction_SetAutoOffset(ORVIAcqHandle hDetector, int32_t nOn);

/* ------------------------------------------------- the simulated detector */

/*
 * Serial ports and network adapters
 *   Serial ports offered: "SIMCOM1", "SIMCOM2". Network adapters offered:
 *     "Simulated GigE Adapter 1", "Simulated GigE Adapter 2"  a detector behind
 *                                                  each, 1000 Mbit/s;
 *     "Simulated GigE Adapter (no detector)"       nothing answers on it;
 *     "Simulated Fast Ethernet Adapter"            a detector at 100 Mbit/s.
 *   Either detector connects through any free port and any adapter with a
 *   detector. A port or an adapter serves one open detector at a time.
 *
 * Provoking each failure of Acquisition_Initialize (checked in this order):
 *   -1 serial port:  a port that is not offered (e.g. "/dev/ttyS0"), or one
 *                    the other open detector uses;
 *   -3 adapter:      an adapter that is not offered, or one the other open
 *                    detector uses;
 *   -4 link speed:   "Simulated Fast Ethernet Adapter";
 *   -2 network:      "Simulated GigE Adapter (no detector)", or a detector
 *                    index that is already open;
 *   any of the four: INIT_FAILURE_1 (detector A) or INIT_FAILURE_2 (detector B)
 *                    set to -1, -2, -3 or -4; it is returned before the names
 *                    are looked at.
 *
 * Keys of section [SIMULATOR] in the configuration file of the open record,
 * read at every Acquisition_Initialize. A missing file or key gives the
 * default; a value out of its range is brought to the nearest end of it.
 *   SEED                fixed patterns, defects and noise: the same seed and
 *                       the same requests give the same frames, bit for bit.
 *                       Detector B's patterns differ from A's. 0 to 4294967295,
 *                       default 1.
 *   DOSE                signal in grey levels above the dark level at the
 *                       centre of the open beam at PGA 5, 0 to 16383, default
 *                       10000.
 *   OBJECT              1 = the test object is in the beam, 0 = open beam (for
 *                       bright calibration frames). Default 1.
 *   NOISE               1 = noise in dark and signal, 0 = none. Default 1.
 *   AUTO_FIRE_MS        when the simulated generator fires, counted from the
 *                       arming of an idle detector: -1 = 12500 - AecExpTime of
 *                       the detector at that moment (half a second after a
 *                       host that lights its ready lamp 12000 - AecExpTime
 *                       after arming); 0 = it never fires by itself (use
 *                       AcquisitionSim_FireXray); n > 0 = after n ms. X-ray
 *                       due before the panel reports enabled is taken when it
 *                       does. -1 to 3600000, default -1.
 *   ENABLE_MS           arming to ORVIACQ_AEC_ENABLED (the panel clear), 0 to
 *                       60000, default 500.
 *   READOUT_MS          X-ray, or the end of a dark's integration, to the
 *                       frame, 0 to 60000, default 300.
 *   EXPOSURE_WINDOW_MS  how long an armed detector waits for X-ray after it
 *                       reported enabled; 0 = no limit. 0 to 3600000, default
 *                       30000.
 *   SERIAL_MS           a read, reset or update request to the detector's
 *                       answer, 0 to 60000, default 50.
 *   FRAME_WIDTH,        size of the simulated panel, 64 to 3072 each, default
 *   FRAME_HEIGHT        3072. The buffer is always full size; a smaller frame
 *                       lies at its start with its own width as row stride.
 *   INIT_FAILURE_1,     result forced on Acquisition_Initialize of detector A
 *   INIT_FAILURE_2      or B: 0 (none), -1, -2, -3 or -4. Default 0.
 *   MISSING_CORRECTION  correction files that cannot be loaded: any of GAIN,
 *                       DEFECT, OFFSET, separated by commas or blanks.
 *                       Default empty.
 *   CORRUPT_PACKET      the first n parameter packets after the open carry a
 *                       wrong checksum (-1 = every one), default 0.
 *
 * Pixel model (x = column, y = row of the frame as delivered, before any
 * mirroring by the host)
 *   pixel = dark offset + DOSE x PGA factor x gain x transmission + noise,
 *   rounded and limited to 0..16383.
 *   Dark offset: about 1000 grey levels, with a level per group of 256 columns,
 *   a level per column, a slow ramp down the rows and a fine per-pixel
 *   variation. Gain: falls off smoothly towards the edges and corners (to
 *   about 88 %), a little per group of 256 columns, fine per-pixel variation.
 *   Noise: read noise of 3 grey levels, photon noise whose variance is half
 *   the signal (both within 4 standard deviations), and a small offset per
 *   row; every frame draws new noise.
 *   Test object (AcquisitionSim_GetObjectRect): on a base plate that passes
 *   92 %, a step wedge of eight steps, five discs of falling size and
 *   contrast, and line-pair groups of bar widths 16 to 1 pixels. Outside its
 *   rectangle the beam is open.
 *   Defects (AcquisitionSim_GetDefects), placed from the seed: hot pixels
 *   (offset raised by 2500 or more, the first five saturate at 16383), dead
 *   pixels (no response), clusters of 2 x 2 to 4 x 4 dead or weak pixels, weak
 *   column segments (55 % gain), a full column of raised offset (+400) and
 *   rows of raised offset and gain. Apart from the rows and the full column,
 *   which run from edge to edge, defects keep 8 pixels from the edges; all
 *   keep 3 pixels from each other, except where a row crosses a column.
 *
 * The calls below control the simulation (tests and tools). Each returns
 * ORVIACQ_ERR_HANDLE for a bad handle.
 */

/* Fires the X-ray now (the generator's hand switch). 1 = the detector is armed
 * or clearing and takes the exposure (reported and delivered as described for
 * Acquisition_StartAecReady, never inside this call); 0 = the detector is not
 * armed and the X-ray is lost; ORVIACQ_ERR_LINK. */
ORVIACQ_API int32_t AcquisitionSim_FireXray(ORVIAcqHandle hDetector);

/* Sets when the generator fires by itself, as the AUTO_FIRE_MS key (-1, 0 or
 * n ms after the arming of an idle detector), for the armings that follow.
 * ORVIACQ_ERR_RANGE outside -1..3600000. */
ORVIACQ_API int32_t AcquisitionSim_SetAutoFire(ORVIAcqHandle hDetector, int32_t nMs);

/* Milliseconds until the generator fires by itself (0 when it is due now or
 * waits for the panel to report enabled), or -1 when it is not counting: the
 * detector is not armed, the generator fired or was stopped, or it never
 * fires by itself. ORVIACQ_ERR_HANDLE is below -1. */
ORVIACQ_API int32_t AcquisitionSim_GetXrayDue(ORVIAcqHandle hDetector);

/* Puts the test object in (1) or out (0) of the beam, for the exposures that
 * follow. ORVIACQ_ERR_ARGUMENT for another value. */
ORVIACQ_API int32_t AcquisitionSim_SetObjectIn(ORVIAcqHandle hDetector, int32_t nIn);

/* Sets the dose (as the DOSE key) for the exposures that follow.
 * ORVIACQ_ERR_RANGE outside 0..16383. */
ORVIACQ_API int32_t AcquisitionSim_SetDose(ORVIAcqHandle hDetector, int32_t nDose);

/* The detector sends its parameter block SERIAL_MS from now with a wrong
 * checksum (the getters keep their values). ORVIACQ_ERR_LINK. */
ORVIACQ_API int32_t AcquisitionSim_SendCorruptPacket(ORVIAcqHandle hDetector);

/* The link to the detector goes down: pending frames, reports and packets are
 * lost, requests to the detector fail (ORVIACQ_ERR_LINK, or 0 for the three
 * parameter transfers) until the handle is closed and the detector opened
 * again. */
ORVIACQ_API int32_t AcquisitionSim_DropLink(ORVIAcqHandle hDetector);

/* Width and height of the detector's frames. ORVIACQ_ERR_ARGUMENT for a null
 * pointer. */
ORVIACQ_API int32_t AcquisitionSim_GetFrameSize(ORVIAcqHandle hDetector, int32_t* pWidth, int32_t* pHeight);

typedef struct ORVIAcqSimRect {
    int32_t nX, nY;          /* first column and row */
    int32_t nWidth, nHeight; /* extent in pixels */
} ORVIAcqSimRect;

/* The rectangle the test object occupies; outside it the beam is open.
 * ORVIACQ_ERR_ARGUMENT for a null pointer. */
ORVIACQ_API int32_t AcquisitionSim_GetObjectRect(ORVIAcqHandle hDetector, ORVIAcqSimRect* pRect);

/* Kinds of planted defects. */
#define ORVIACQ_DEFECT_HOT 1           /* one pixel, offset raised (saturated for some) */
#define ORVIACQ_DEFECT_DEAD 2          /* one pixel without response to X-ray */
#define ORVIACQ_DEFECT_CLUSTER 3       /* a block of pixels: the 1st, 3rd, ... cluster dead, the others at 30 % gain */
#define ORVIACQ_DEFECT_WEAK_COLUMN 4   /* part of a column at 55 % gain */
#define ORVIACQ_DEFECT_BRIGHT_COLUMN 5 /* a whole column with its offset raised by 400 */
#define ORVIACQ_DEFECT_BAD_ROW 6       /* a whole row, offset raised by 900, gain 1.25 times */

typedef struct ORVIAcqSimDefect {
    int32_t nKind; /* ORVIACQ_DEFECT_* */
    ORVIAcqSimRect rect;
} ORVIAcqSimDefect;

/* Copies up to nCapacity planted defects into pOut (which may be null when
 * nCapacity is 0) and returns how many there are in all.
 * ORVIACQ_ERR_ARGUMENT for a negative capacity or a null pOut with a positive
 * capacity. */
ORVIACQ_API int32_t AcquisitionSim_GetDefects(ORVIAcqHandle hDetector, ORVIAcqSimDefect* pOut, int32_t nCapacity);

#ifdef __cplusplus
}
#endif
