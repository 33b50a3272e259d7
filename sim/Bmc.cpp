// The simulated BMC: the classic driver's ioctl, the handler table, the log, the faults and
// the buffer limits, and the application commands.
#include "sim/Bmc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "IPMI/ImbDriver.h"
#include "sim/Machine.h"

namespace sim {

namespace {

// Longest request the Linux IPMI driver passes on (IPMI_MAX_MSG_LENGTH, less the header).
constexpr unsigned int kMaxRequest = 256;
// System interface status registers and what they read while the interface idles.
constexpr std::uint16_t kKcsStatusPort = 0xCA3, kSmicStatusPort = 0xCAA;
constexpr std::uint8_t kIdle = 0x00;

constexpr std::uint8_t kGetDeviceId = 0x01;
constexpr std::uint8_t kReadFruData = 0x11;

// /dev/ipmi: every request goes through the send ioctl; there is nothing to read.
class IpmiDevice : public Node {
public:
    explicit IpmiDevice(std::shared_ptr<Bmc> bmc) : bmc_(std::move(bmc)) {}

    long read(std::uint64_t, void*, std::size_t) override { return -EINVAL; }

    int ioctl(unsigned long request, void* argument) override {
        if (request != IMB_SEND_MESSAGE) return -ENOTTY;
        if (bmc_->fail_ioctl) return -EIO;
        if (bmc_->ioctl_fault)
            if (int error = bmc_->ioctl_fault()) return -error;
        auto* message = static_cast<ipmi_send_message*>(argument);
        if (!message) return -EFAULT;
        const ipmi_request_data& req = message->req;
        if (req.data_length > kMaxRequest) return -EMSGSIZE;
        if (req.data_length > 0 && !req.data) return -EFAULT;

        BmcRequest in;
        in.netfn = req.net_func;
        in.cmd = req.cmd_type;
        in.responder = req.resp_slave_addr;
        in.lun = req.resp_lun;
        in.bus = req.bus_type;
        in.data.assign(req.data, req.data + req.data_length);
        BmcResponse out = bmc_->handle(in);

        // The driver stores no more than the room it was given.
        std::size_t stored = std::min<std::size_t>(out.data.size(), message->resp_data_len);
        if (stored > 0 && !message->resp_data_ptr) return -EFAULT;
        if (stored > 0) std::memcpy(message->resp_data_ptr, out.data.data(), stored);
        message->completion_code = out.completion;
        message->resp_data_len = out.reported_length.value_or(static_cast<std::uint32_t>(stored));
        return 0;
    }

private:
    std::shared_ptr<Bmc> bmc_;
};

}  // namespace

Bmc::Bmc() {
    register_app_commands();
    register_storage_commands();
    register_sensor_commands();
    register_watchdog_commands();
    register_fru_commands();
    register_lan_commands();
    register_sel_commands();
}

void Bmc::add_command(std::uint8_t netfn, std::uint8_t cmd, std::size_t min_length, Handler handler) {
    commands_[{netfn, cmd}] = Command{min_length, std::move(handler)};
}

BmcResponse Bmc::handle(const BmcRequest& request) {
    std::function<bool(const BmcRequest&, BmcResponse&)> interceptor;
    std::optional<std::uint8_t> fault;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (log_limit > 0) log_.push_back(request);
        while (log_.size() > log_limit) log_.pop_front();
        ++received_;
        if (auto it = failing_requests_.find(received_); it != failing_requests_.end()) fault = it->second;
        if (auto it = failing_commands_.find({request.netfn, request.cmd}); it != failing_commands_.end() && !fault)
            fault = it->second;
        interceptor = intercept;
    }
    BmcResponse response;
    if (fault) {
        response.completion = *fault;
    } else if (interceptor && interceptor(request, response)) {
        // Outside the lock: an interceptor may well look at the model.
    } else if (link_) {
        response = forward(request);
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        run_watchdog();
        run_sel();
        if (reservation_lifetime != 0 && ++since_reservation_ > reservation_lifetime && !reservation_cancelled_) {
            ++reservation;  // the ID handed out no longer matches
            reservation_cancelled_ = true;
        }
        auto command = commands_.find({request.netfn, request.cmd});
        if (command == commands_.end())
            response.completion = completion::kInvalidCommand;
        else if (request.data.size() < command->second.min_length)
            response.completion = completion::kLengthInvalid;
        else
            command->second.handler(request, response);
        if (response.completion == completion::kOk && response.data.size() > answer_limit) {
            response.completion = request.netfn == netfn::kStorage && request.cmd == kReadFruData
                                      ? completion::kFruCountTooLarge
                                      : completion::kCannotReturn;
            response.data.clear();
        }
    }
    if (tamper) tamper(request, response);
    if (!transcript.empty()) write_transcript(request, response);
    return response;
}

void Bmc::write_transcript(const BmcRequest& request, const BmcResponse& response) const {
    std::string line;
    auto hex = [&line](std::uint8_t byte) {
        static const char digits[] = "0123456789ABCDEF";
        if (!line.empty() && line.back() != ' ') line += ' ';
        line += digits[byte >> 4];
        line += digits[byte & 0x0F];
    };
    hex(request.netfn);
    hex(request.cmd);
    for (std::uint8_t b : request.data) hex(b);
    line += " ->";
    hex(response.completion);
    for (std::uint8_t b : response.data) hex(b);
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::FILE* out = std::fopen(transcript.c_str(), "a")) {
        std::fputs(line.c_str(), out);
        std::fclose(out);
    }
}

std::vector<BmcRequest> Bmc::log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {log_.begin(), log_.end()};
}

std::size_t Bmc::count(std::uint8_t netfn, std::uint8_t cmd) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count_if(log_.begin(), log_.end(), [&](const BmcRequest& r) {
        return r.netfn == netfn && r.cmd == cmd;
    }));
}

void Bmc::clear_log() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

void Bmc::fail_command(std::uint8_t netfn, std::uint8_t cmd, std::uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_commands_[{netfn, cmd}] = code;
}

void Bmc::fail_request(std::size_t n, std::uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    failing_requests_[n] = code;
}

// --- application commands ----------------------------------------------------------------

void Bmc::register_app_commands() {
    add_command(netfn::kApp, kGetDeviceId, 0, [this](const BmcRequest& q, BmcResponse& r) { get_device_id(q, r); });
}

// IPMI 2.0 20.1
void Bmc::get_device_id(const BmcRequest&, BmcResponse& r) {
    const BmcDevice& d = device;
    r.data = {d.device_id,
              d.revision,
              d.firmware1,
              d.firmware2,
              d.ipmi_version,
              d.support,
              static_cast<std::uint8_t>(d.manufacturer & 0xFF),
              static_cast<std::uint8_t>((d.manufacturer >> 8) & 0xFF),
              static_cast<std::uint8_t>((d.manufacturer >> 16) & 0xFF),
              static_cast<std::uint8_t>(d.product & 0xFF),
              static_cast<std::uint8_t>(d.product >> 8)};
}

// --- installation ------------------------------------------------------------------------

void install_bmc(Machine& machine, std::shared_ptr<Bmc> bmc) {
    machine.bmc = bmc;
    bmc->clock = &machine.clock;
    // Each kernel offers its own driver; the kernel may be chosen after the BMC is installed.
    Machine* const m = &machine;
    machine.add_device("/dev/ipmi", [bmc, m]() -> std::shared_ptr<Node> {
        return m->kernel == Kernel::Classic ? std::make_shared<IpmiDevice>(bmc) : nullptr;
    });
    machine.add_device("/dev/ipmi0", [bmc, m]() -> std::shared_ptr<Node> {
        return m->kernel == Kernel::Current ? mainline_device(bmc) : nullptr;
    });
    auto status = [bmc](std::uint16_t port, int) -> std::uint32_t {
        bool present = port == kKcsStatusPort ? bmc->kcs_present : bmc->smic_present;
        return present ? kIdle : 0xFF;
    };
    machine.ports.map(kKcsStatusPort, 1, status);
    machine.ports.map(kSmicStatusPort, 1, status);
}

}  // namespace sim
