// The simulated BMC behind /dev/ipmi.
//
// Requests arrive through the driver's send ioctl (the message of IPMI/ImbDriver.h) and are
// served from a table keyed by network function and command; each entry names the
// shortest request it accepts. The model keeps an SDR repository, per-sensor readings,
// state bits and thresholds, the Get Device ID answer, the watchdog timer (counting down
// on the machine's clock), FRU device 0, channels, users and LAN parameters; it logs every
// request that reaches it and takes faults. Each part of the BMC is a file with its state
// and a register_... member that calls add_command, called from the constructor.
#ifndef QARVEL_SIM_BMC_H
#define QARVEL_SIM_BMC_H

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/Sdr.h"

namespace sim {

class Machine;
class Node;
struct Clock;
class VmLink;

// Network functions (requests) and completion codes (IPMI 2.0 5.1, 5.2).
namespace netfn {
constexpr std::uint8_t kSensor = 0x04, kApp = 0x06, kStorage = 0x0A, kTransport = 0x0C;
}
namespace completion {
constexpr std::uint8_t kOk = 0x00, kInvalidCommand = 0xC1, kReservationInvalid = 0xC5, kLengthInvalid = 0xC7,
                       kFruCountTooLarge = 0xC8,
                       kOutOfRange = 0xC9, kCannotReturn = 0xCA, kNotPresent = 0xCB, kInvalidField = 0xCC,
                       kIllegalForSensor = 0xCD, kUnspecified = 0xFF;
// Command-specific codes (IPMI 2.0 22.30, 23.1, 27.5).
constexpr std::uint8_t kWatchdogNotLoaded = 0x80, kPasswordMismatch = 0x80, kPasswordSize = 0x81,
                       kParameterNotSupported = 0x80, kSetInProgressHeld = 0x81, kParameterReadOnly = 0x82;
}

// One request as the BMC received it.
struct BmcRequest {
    std::uint8_t netfn = 0, cmd = 0;
    std::uint8_t responder = 0, lun = 0, bus = 0;  // as they came on the wire
    std::vector<std::uint8_t> data;
};

struct BmcResponse {
    std::uint8_t completion = completion::kOk;
    std::vector<std::uint8_t> data;  // the bytes after the completion code
    // When set, the driver reports this length instead of the bytes it stored (a lying
    // driver, for robustness tests).
    std::optional<std::uint32_t> reported_length;
};

// One sensor as the BMC keeps it. Sensors come from the repository's sensor records and
// from bmc.conf.
struct BmcSensor {
    std::uint8_t reading = 0;
    std::uint16_t state = 0;  // state bits 14..0 (Get Sensor Reading bytes 3 and 4)
    bool threshold_based = false;  // answers Get and Set Sensor Thresholds
    std::uint8_t readable = 0, settable = 0;
    // Raw thresholds in mask-bit order: lower non-critical, lower critical, lower
    // non-recoverable, upper non-critical, upper critical, upper non-recoverable.
    std::array<std::uint8_t, 6> thresholds{};
    // A completion code answered instead of the reading, or of the thresholds (0: answered).
    // Real BMCs refuse either for sensors they cannot read now, or a command they lack.
    std::uint8_t reading_refused = 0, thresholds_refused = 0;
    // Get Sensor Reading byte 1: bit 7 event messages enabled, bit 6 scanning enabled,
    // bit 5 reading unavailable. And how many of the answer's 4 bytes are sent.
    std::uint8_t reading_flags = 0xC0;
    std::size_t reading_bytes = 4;
    // What Get Sensor Reading Factors answers: the factor bytes of a full record (its bytes
    // 24..29), or, for a non-linear sensor, those of the segment holding the raw value asked
    // about, segments keyed by their first raw value. None for a sensor without a full record.
    bool has_factors = false;
    std::array<std::uint8_t, 6> factors{};
    std::map<std::uint8_t, std::array<std::uint8_t, 6>> factor_segments;
};

// The Get Device ID answer (IPMI 2.0 20.1), byte for byte.
struct BmcDevice {
    std::uint8_t device_id = 0x20;
    std::uint8_t revision = 0x01;
    std::uint8_t firmware1 = 0x01;  // bit 7: update in progress; bits 6..0: major revision
    std::uint8_t firmware2 = 0x00;  // minor revision, BCD
    std::uint8_t ipmi_version = 0x02;  // BCD, least significant digit high: 2.0
    std::uint8_t support = 0xBF;
    std::uint32_t manufacturer = 0;  // IANA enterprise number, 3 bytes
    std::uint16_t product = 0;
};

// The watchdog timer (IPMI 2.0 27) as the last Set Watchdog Timer loaded it.
struct BmcWatchdog {
    std::uint8_t timer_use = 0;         // bits 2..0 timer use, 6 don't stop, 7 don't log
    std::uint8_t actions = 0;           // bits 2..0 timeout action, 6..4 pre-timeout interrupt
    std::uint8_t pretimeout = 0;        // seconds
    std::uint8_t expiration_flags = 0;  // bit n: a timer of use n expired
    std::uint16_t initial = 0;          // countdown, 100 ms units
    std::uint16_t present = 0;          // countdown left when the timer is not running
    bool loaded = false;                // a Set was made, so a Reset may start it
    bool running = false;
    std::uint64_t started_us = 0;  // clock time the running countdown began from `initial`

    // A countdown that reached zero: when, and what the BMC would have done then.
    struct Expiry {
        std::uint64_t at_us;
        std::uint8_t action;  // 0 none, 1 hard reset, 2 power down, 3 power cycle
        std::uint8_t timer_use;
    };
    std::vector<Expiry> expiries;
};

// The System Event Log (IPMI 2.0 31) and the quirks of real ones, as switches.
struct BmcSel {
    bool present = false;  // without a log its commands are unknown (C1h)
    // The entries in chain order, each 16 bytes with its record ID in bytes 0-1.
    std::vector<std::array<std::uint8_t, 16>> entries;
    std::size_t capacity = 512;  // entries it holds; past that new events are dropped
    bool overflow = false;       // an event was dropped since the last clear
    // Most recent addition and erase (FFFFFFFFh: none), and the log's clock at the machine's
    // clock 0: a date, or a count below 20000000h for a BMC that does not know the date.
    std::uint32_t added = 0xFFFFFFFF, erased = 0xFFFFFFFF;
    std::uint32_t time_base = 0x60000000;
    // The ID the next entry added gets. IPMI reserves 0000h ("the first entry"), yet some
    // BMCs (QEMU's) number their log from it: its first entry is then found by either name.
    std::uint16_t next_id = 1;
    std::uint16_t reservation = 0;
    // Quirks: Reserve SEL answered with this code (C1h, D4h); the reservation cancelled once,
    // after this many Get SEL Entry requests following it (0: never); the last entry naming
    // the first as its successor, so the chain never ends; an erase that reports "in
    // progress" to this many status requests before it completes.
    std::uint8_t reserve_refused = 0;
    std::size_t cancel_after = 0;
    bool endless_chain = false;
    std::size_t erase_polls = 0;
    // Which thresholds each threshold sensor's reading stood beyond when last looked at (the
    // state bits of Get Sensor Reading), so that a crossing is logged once (a reading beyond
    // one when first looked at crossed nothing); the sensor
    // number the watchdog's expiries are logged under, and how many have been.
    std::map<std::uint8_t, std::uint8_t> beyond;
    std::uint8_t watchdog_sensor = 0x81;
    std::size_t expiries_logged = 0;
    std::size_t entries_since_reserve = 0;
    std::size_t erase_asks_left = 0;
};

// One channel as Get Channel Info reports it (IPMI 2.0 22.24, tables 6-3 and 6-4).
struct BmcChannel {
    std::uint8_t medium = 0;    // 1 IPMB, 4 802.3 LAN, 5 asynch serial, 0x0C system interface...
    std::uint8_t protocol = 0;  // 1 IPMB-1.0, 2 ICMB-1.0, 4 IPMI-SMBus, 5 KCS...
};

struct BmcUser {
    std::string name;                   // at most 16 characters
    std::vector<std::uint8_t> password;  // 16 or 20 bytes once set
    bool enabled = false;
};

// The LAN configuration parameters of one LAN channel (IPMI 2.0 23.1, table 23-4).
struct BmcLan {
    std::map<std::uint8_t, std::vector<std::uint8_t>> parameters;  // by selector, without parameter 0
    std::uint8_t set_in_progress = 0;  // parameter 0: 0 complete, 1 in progress, 2 commit write
    unsigned commits = 0;
};

class Bmc {
public:
    using Handler = std::function<void(const BmcRequest&, BmcResponse&)>;

    Bmc();
    Bmc(const Bmc&) = delete;
    Bmc& operator=(const Bmc&) = delete;

    // --- SDR repository (bmc_storage.cpp) ---
    // Appends a record under the next free record ID and returns that ID.
    std::uint16_t add_record(const SdrRecord& record);
    // Appends a record as held, header included and its record ID kept (sdr.bin).
    void add_record_bytes(std::vector<std::uint8_t> bytes);
    const std::vector<std::vector<std::uint8_t>>& records() const { return records_; }
    // The repository in the `ipmitool sdr dump` format: the records back to back.
    std::vector<std::uint8_t> sdr_bin() const;
    std::uint16_t reservation = 0;
    // The most recent addition and erase timestamps Get SDR Repository Info reports (seconds,
    // IPMI 2.0 37): a test that changes the repository sets them as a BMC would.
    std::uint32_t sdr_added = 0, sdr_erased = 0;

    // --- sensors (bmc_sensors.cpp), keyed by sensor number ---
    std::map<std::uint8_t, BmcSensor> sensors;

    BmcDevice device;
    // Whether the KCS status port 0xCA3 and the SMIC status port 0xCAA answer (else 0xFF).
    bool kcs_present = true;
    bool smic_present = false;

    // --- watchdog timer (bmc_watchdog.cpp) ---
    BmcWatchdog watchdog;
    // How Get Watchdog Timer is answered: with this completion code instead (0: answered),
    // else with only the first `watchdog_answer_bytes` of its 8 data bytes, as OpenIPMI's
    // ipmi_sim answers 6, without the present countdown. Set and Reset are not affected.
    std::uint8_t watchdog_refused = 0;
    std::size_t watchdog_answer_bytes = 8;
    // The time it counts down on; install_bmc hands the machine's clock. Without one, time
    // stands still at 0.
    const Clock* clock = nullptr;

    // --- the System Event Log (bmc_sel.cpp) ---
    BmcSel sel;
    // Appends a record as Add SEL Entry would: a new record ID, and the log's time for the
    // timestamped types. Its ID, or FFFFh when the log was full and the record dropped.
    std::uint16_t add_sel(const std::array<std::uint8_t, 16>& record);
    // The log's clock now.
    std::uint32_t sel_time() const;

    // --- FRU device 0 (bmc_fru.cpp): the inventory area as `ipmitool fru read 0 FILE` saves it ---
    std::vector<std::uint8_t> fru0;
    // Read FRU Data returns at most this many bytes, whatever more was asked for.
    std::size_t fru_read_limit = 255;

    // --- channels, users and LAN parameters (bmc_lan.cpp) ---
    std::map<std::uint8_t, BmcChannel> channels;  // by channel number, 1 to 7
    std::map<std::uint8_t, BmcUser> users;        // by user ID
    std::uint8_t user_slots = 10;                 // user IDs 1 to this
    std::map<std::uint8_t, BmcLan> lan;           // by channel; created on the first write

    // When set, every request and its answer is appended to this file as a line of hex
    // bytes, "NETFN CMD DATA... -> CODE DATA...": what a process did to the BMC can be read
    // after it ended.
    std::string transcript;

    // --- the limits of a BMC with small buffers (ipmi_sim answers at most 36 bytes) ---
    // Most bytes an answer carries after its completion code; a longer one is refused,
    // with 0xC8 for Read FRU Data and 0xCA for every other command.
    std::size_t answer_limit = 256;
    // Get SDR for a whole record (count FFh) is refused with 0xCA.
    bool refuse_whole_records = false;
    // A reservation is cancelled once this many requests have reached the BMC after the
    // Reserve SDR Repository that made it (0: never).
    std::size_t reservation_lifetime = 0;

    // --- the mainline driver (bmc_mainline.cpp): what happens to answers on the way back ---
    // The next n answers never arrive: their requests time out.
    std::size_t lose_answers = 0;
    // Before each of the next n answers, an answer to a message id nobody sent arrives.
    std::size_t foreign_answers = 0;

    // --- forwarding (bmc_forward.cpp) ---
    // Sends every request to the BMC simulator listening at host:port (QEMU's
    // ipmi-bmc-extern "VM" protocol) instead of answering from the model. The connection
    // is made at the first request. Requests are still logged and faults still apply.
    void forward_to(const std::string& host, std::uint16_t port);
    bool forwarding() const { return link_ != nullptr; }
    // One request through the link (bmc_forward.cpp).
    BmcResponse forward(const BmcRequest& request);

    // --- the handler table ---
    void add_command(std::uint8_t netfn, std::uint8_t cmd, std::size_t min_length, Handler handler);
    // Serves one request that reached the BMC: logs it, applies the faults, then the table
    // (invalid command for an unknown one, length invalid for a short one).
    BmcResponse handle(const BmcRequest& request);

    // --- the request log: the latest `log_limit` requests, so a long replay does not grow
    //     (0 logs none) ---
    std::vector<BmcRequest> log() const;
    std::size_t log_limit = 65536;
    std::size_t count(std::uint8_t netfn, std::uint8_t cmd) const;
    void clear_log();

    // --- faults ---
    // Every request of this command is answered with `code` (and no data).
    void fail_command(std::uint8_t netfn, std::uint8_t cmd, std::uint8_t code);
    // The n-th request that reaches the BMC (1-based, counted since the start) is answered with `code`.
    void fail_request(std::size_t n, std::uint8_t code);
    // The driver's ioctl fails with EIO; nothing reaches the BMC.
    bool fail_ioctl = false;
    // Answers in place of the model when it returns true (garbage, lying lengths...).
    std::function<bool(const BmcRequest&, BmcResponse&)> intercept;
    // Asked before every send ioctl: an errno value makes that ioctl fail with it (EIO, or
    // ETIMEDOUT for a request that timed out) and nothing reaches the BMC; 0 lets it through.
    std::function<int()> ioctl_fault;
    // Changes an answer after the BMC made it (a short answer, a late completion code...).
    std::function<void(const BmcRequest&, BmcResponse&)> tamper;

private:
    void register_app_commands();
    void register_storage_commands();
    void register_sensor_commands();
    void register_watchdog_commands();
    void register_fru_commands();
    void register_lan_commands();
    void register_sel_commands();

    // Handlers (IPMI 2.0 section of each command).
    void get_device_id(const BmcRequest&, BmcResponse&);
    void get_sdr_repository_info(const BmcRequest&, BmcResponse&);
    void reserve_sdr_repository(const BmcRequest&, BmcResponse&);
    void get_sdr(const BmcRequest&, BmcResponse&);
    // The sensor a sensor command names in its first byte; none (and Not Present) when absent.
    BmcSensor* sensor_asked(const BmcRequest&, BmcResponse&);
    void get_sensor_reading(const BmcRequest&, BmcResponse&);
    void get_reading_factors(const BmcRequest&, BmcResponse&);
    void get_sensor_thresholds(const BmcRequest&, BmcResponse&);
    void set_sensor_thresholds(const BmcRequest&, BmcResponse&);
    void reset_watchdog_timer(const BmcRequest&, BmcResponse&);
    void set_watchdog_timer(const BmcRequest&, BmcResponse&);
    void get_watchdog_timer(const BmcRequest&, BmcResponse&);
    void get_fru_inventory_area_info(const BmcRequest&, BmcResponse&);
    void read_fru_data(const BmcRequest&, BmcResponse&);
    void get_channel_info(const BmcRequest&, BmcResponse&);
    void set_user_name(const BmcRequest&, BmcResponse&);
    void get_user_name(const BmcRequest&, BmcResponse&);
    void set_user_password(const BmcRequest&, BmcResponse&);
    void set_lan_parameter(const BmcRequest&, BmcResponse&);

    void get_sel_info(const BmcRequest&, BmcResponse&);
    void reserve_sel(const BmcRequest&, BmcResponse&);
    void get_sel_entry(const BmcRequest&, BmcResponse&);
    void add_sel_entry(const BmcRequest&, BmcResponse&);
    void clear_sel(const BmcRequest&, BmcResponse&);
    void get_sel_time(const BmcRequest&, BmcResponse&);
    // Appends under the lock already held.
    std::uint16_t append_sel(std::array<std::uint8_t, 16> record);
    // Logs what happened since the last request: threshold crossings of the sensors'
    // readings, and the watchdog's expiries.
    void run_sel();
    // The sensor type the repository gives sensor `number` (0 when none does).
    std::uint8_t sel_sensor_type(std::uint8_t number) const;

    std::uint64_t now_us() const;
    // Lets the watchdog's countdown catch up with the clock: a countdown that has run out
    // stops and records its expiry.
    void run_watchdog();
    void write_transcript(const BmcRequest&, const BmcResponse&) const;

    // The sensor a full or compact record describes.
    void add_sensor_of(const std::vector<std::uint8_t>& record);

    struct Command {
        std::size_t min_length;
        Handler handler;
    };
    std::map<std::pair<std::uint8_t, std::uint8_t>, Command> commands_;
    std::vector<std::vector<std::uint8_t>> records_;
    std::uint16_t next_record_id_ = 1;

    std::size_t since_reservation_ = 0;
    bool reservation_cancelled_ = false;
    std::shared_ptr<VmLink> link_;

    mutable std::mutex mutex_;
    std::deque<BmcRequest> log_;
    std::size_t received_ = 0;
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint8_t> failing_commands_;
    std::map<std::size_t, std::uint8_t> failing_requests_;
};

// Puts the BMC into the machine: the device of the machine's kernel in the device table
// (/dev/ipmi on a classic kernel, the mainline driver's /dev/ipmi0 on a current one), the
// KCS and SMIC status ports on the port map, and Machine::bmc.
void install_bmc(Machine& machine, std::shared_ptr<Bmc> bmc);
// A node of the mainline IPMI driver in front of `bmc` (what /dev/ipmi0 opens): requests
// go in with IPMICTL_SEND_COMMAND, answers wait in the node's queue for poll and
// IPMICTL_RECEIVE_MSG_TRUNC.
std::shared_ptr<Node> mainline_device(std::shared_ptr<Bmc> bmc);

// The capture files (bmc_capture.cpp): ipmi/sdr.bin, ipmi/fru0.bin, ipmi/bmc.conf and
// ipmi/forward, described in sim/README.md. A directory with none of them has no BMC.
bool load_ipmi(const std::filesystem::path& dir, Machine& machine, std::string& error);
bool write_ipmi(const std::string& dir, const Bmc& bmc);
// bmc.conf: the text for a BMC, and reading one into it. Every line that cannot be read adds
// "LINE: reason" to `errors` and is left out; the others apply. False when one was left out.
std::string bmc_conf(const Bmc& bmc);
bool read_bmc_conf(const std::string& text, Bmc& bmc, std::vector<std::string>& errors);
bool read_bmc_conf(const std::string& text, Bmc& bmc, std::string& error);  // the first error
// The log's lines of bmc.conf (sim/README.md): true when `key` is one of them, with `good`
// false when its value was not understood.
// `number` reads a number up to its maximum, as the other lines' numbers are read.
bool read_sel_setting(const std::string& key, const std::string& value, Bmc& bmc, bool& good,
                      const std::function<bool(const std::string&, unsigned long, unsigned long&)>& number);
std::string sel_conf(const Bmc& bmc);
// ipmi/sel.bin: the log's records back to back, 16 bytes each.
std::vector<std::uint8_t> sel_bin(const Bmc& bmc);
bool load_sel_bin(const std::string& bytes, Bmc& bmc, std::string& error);

}  // namespace sim

#endif
