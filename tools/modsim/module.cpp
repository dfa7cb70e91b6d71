#include "tools/modsim/module.h"

#include <algorithm>
#include <utility>

namespace modsim {

namespace {

// Noise before a reply.  The Windows program acts on "r\r" and on the code
// groups 000, 100, 200, 101 and 302 anywhere in a line, so none of these may
// hold them.
const char* const kNoiseLines[] = {
    "** boot monitor v1.4 **\r\n",
    "-- self test passed --\r\n",
    "## serial console ##\r\n",
};

// The phases a reply belongs to, as --fail-phase and --silent-phase count them.
constexpr int kWakePhase = 0;
constexpr int kFlashPhase = 1;
constexpr int kProgPhase = 2;
constexpr int kImagePhase = 3;

} // namespace

const char* model_name(Model model)
{
    switch (model) {
    case Model::k41: return "41";
    case Model::k710F: return "710F";
    case Model::k520W: break;
    }
    return "520W";
}

std::optional<Model> parse_model(std::string_view name)
{
    if (name == "520W")
        return Model::k520W;
    if (name == "41")
        return Model::k41;
    if (name == "710F")
        return Model::k710F;
    return std::nullopt;
}

const char* state_name(State state)
{
    switch (state) {
    case State::Boot: return "boot";
    case State::Monitor: return "monitor";
    case State::Ready: return "ready";
    case State::Image: return "image";
    case State::Off: break;
    }
    return "off";
}

Module::Module(const Behaviour& behaviour) : b_(behaviour) {}

void Module::receive(std::string_view bytes, double ms, const Line& line)
{
    const bool understood = b_.any_rate || line.baud == b_.install_rate;
    for (char byte : bytes) {
        ++record_.received_bytes;
        if (state_ == State::Image && understood) {
            image_byte(byte, ms);
            continue;
        }
        const bool ignored = !understood || state_ == State::Off;
        if (ignored)
            ++record_.ignored_bytes;
        const Kind kind = record_.add_byte(byte, ms, line, ignored, b_.idle_ms);
        if (understood)
            on_command(kind, ms);
    }
}

void Module::on_command(Kind kind, double ms)
{
    switch (state_) {
    case State::Off:
        if (kind == Kind::Cr)
            count_power_on_cr(ms);
        return;
    case State::Image:
        return;
    case State::Boot:
        if (kind == Kind::Cr)
            wake_up(ms);
        break;
    case State::Monitor:
        if (kind == Kind::Flash) {
            const std::string body = b_.model == Model::k41 ? "AVR flash ready " : "flash ready ";
            if (answer(kFlashPhase, body, "100", ms))
                state_ = State::Ready;
        }
        break;
    case State::Ready:
        if (kind == Kind::P60 && answer(kProgPhase, "prog ", "200", ms)) {
            state_ = State::Image;
            record_.break_run();
            // A new image: the verdict is about it alone, as the module's.
            record_.image.clear();
            record_.image_first_ms.reset();
            record_.image_last_ms.reset();
            image_bytes_ = 0;
            last_image_ms_.reset();
            image_failed_ = false;
            hung_up_ = false;
            stalled_ = false;
            stall_end_ms_.reset();
            start_deadline_.reset();
            // The start timeout runs from the last byte of the "200"; when
            // that was silenced, from now.
            start_reply_id_ = answered_id_;
            if (!answered_id_)
                start_deadline_ = ms + b_.start_timeout_ms;
        }
        break;
    }
    if (kind == Kind::Reset)
        power_off();
}

void Module::count_power_on_cr(double ms)
{
    if (b_.power_on_delay_ms) {
        if (!power_on_at_)
            power_on_at_ = ms + *b_.power_on_delay_ms;
        return;
    }
    if (++crs_while_off_ >= b_.power_on_crs && b_.power_on_crs > 0)
        power_on(ms);
}

void Module::wake_up(double ms)
{
    if (b_.model == Model::k710F) {
        if (answer(kWakePhase, "MRQ-710F boot ", "100", ms))
            state_ = State::Ready;
    } else {
        const std::string body = std::string("MRQ-") + model_name(b_.model) + " boot ";
        if (answer(kWakePhase, body, "000", ms))
            state_ = State::Monitor;
    }
}

void Module::image_byte(char byte, double ms)
{
    ++image_bytes_;
    last_image_ms_ = ms;
    record_.image += byte;
    if (!record_.image_first_ms)
        record_.image_first_ms = ms;
    record_.image_last_ms = ms;

    if (!image_failed_ && (b_.fail_phase == kImagePhase || (b_.fail_offset && image_bytes_ >= *b_.fail_offset))) {
        image_failed_ = true;
        answer(kImagePhase, "", "302", ms);
    }
    if (!hung_up_ && b_.hangup_offset && image_bytes_ >= *b_.hangup_offset) {
        hung_up_ = true;
        hangup_ = true;
    }
    if (!stalled_ && b_.stall_offset && image_bytes_ >= *b_.stall_offset) {
        stalled_ = true;
        stall_end_ms_ = ms + b_.stall_ms;
        record_.stall_ms = ms;
    }
}

std::optional<double> Module::paused_until(double ms) const
{
    if (stall_end_ms_ && ms < *stall_end_ms_)
        return stall_end_ms_;
    return std::nullopt;
}

std::optional<uint64_t> Module::bytes_before_stall() const
{
    if (state_ != State::Image || stalled_ || !b_.stall_offset)
        return std::nullopt;
    return *b_.stall_offset > image_bytes_ ? *b_.stall_offset - image_bytes_ : 0;
}

void Module::end_image(double ms)
{
    if (!image_failed_) {
        const bool good = !b_.expected || record_.image == *b_.expected;
        answer(kImagePhase, "", good ? "101" : "302", ms);
    }
    report_due_ = true;
    power_off();
}

bool Module::answer(int phase, const std::string& body, const std::string& code, double ms)
{
    const bool failing = b_.fail_phase == phase && phase != kImagePhase;
    const std::string sent_body = failing ? "" : body;
    const std::string sent_code = failing ? "302" : code;
    answered_id_.reset();
    if (b_.silent_phase && phase >= *b_.silent_phase) {
        // The transmitter is mute; the monitor itself goes on as usual.
    } else {
        std::string text;
        if (b_.noise) {
            text = kNoiseLines[noise_index_++ % std::size(kNoiseLines)];
            text += "=> " + sent_body + sent_code;
            if (sent_code == "302")
                text += " failed";
            else if (sent_code != "000")
                text += " ok";   // "000" must be followed by CR LF at once
        } else {
            text = sent_body + sent_code;
        }
        text += "\r\n";
        if (b_.dirty) {
            // A line of line noise (a NUL hides the rest of it from the
            // program), and bytes above 0x7F before the code.
            text = std::string("\x9b\xff junk\0 100 200\x80\r\n", 19) + "\x80\xfe\xff " + text;
        }
        if (b_.garble) {
            // As a UART at another rate would take them: nothing readable,
            // and no line feed either.
            for (char& c : text)
                c = char(uint8_t(c) ^ 0xA5);
        }
        // Twice in one write, as a monitor answering two queued commands.
        answered_id_ = queue(b_.burst ? text + text : text);
        if (sent_code == "101" || sent_code == "302") {
            record_.verdict = sent_code;
            record_.verdict_ms = ms;
            report_due_ = true;
        }
    }
    if (failing)
        power_off();
    return !failing;
}

uint64_t Module::queue(std::string text)
{
    Reply reply;
    reply.id = next_id_++;
    reply.text = text;
    record_.replies.push_back(reply);
    output_.push_back({reply.id, std::move(text)});
    return reply.id;
}

void Module::tick(double ms, bool fLineBusy)
{
    if (state_ == State::Off && power_on_at_ && ms >= *power_on_at_)
        power_on(ms);
    if (state_ == State::Image && !fLineBusy) {
        const std::optional<double> end = next_deadline();
        if (end && ms >= *end)
            end_image(ms);
    }
}

std::optional<double> Module::next_deadline() const
{
    if (state_ == State::Off)
        return power_on_at_;
    if (state_ == State::Image) {
        // A stall holds the line unread: the idle time counts from its end.
        if (last_image_ms_)
            return std::max(*last_image_ms_, stall_end_ms_.value_or(0)) + b_.idle_ms;
        return start_deadline_;
    }
    return std::nullopt;
}

void Module::power_on(double ms)
{
    state_ = State::Boot;
    powered_on_ms_ = ms;
    crs_while_off_ = 0;
    power_on_at_.reset();
}

void Module::power_off()
{
    state_ = State::Off;
    stall_end_ms_.reset();
    crs_while_off_ = 0;
    power_on_at_.reset();
    start_reply_id_.reset();
    start_deadline_.reset();
    record_.break_run();
}

void Module::clear()
{
    record_ = Record{};
    if (state_ == State::Off)
        powered_on_ms_.reset();
}

uint64_t Module::note_sent(std::string text)
{
    Reply reply;
    reply.id = next_id_++;
    reply.text = std::move(text);
    record_.replies.push_back(reply);
    return reply.id;
}

void Module::reply_written(uint64_t id, double first_ms, double last_ms)
{
    for (auto it = record_.replies.rbegin(); it != record_.replies.rend(); ++it) {
        if (it->id == id) {
            it->ms = first_ms;
            it->end_ms = last_ms;
            break;
        }
    }
    if (state_ == State::Image && start_reply_id_ == id) {
        start_reply_id_.reset();
        start_deadline_ = last_ms + b_.start_timeout_ms;
    }
}

void Module::reply_dropped(uint64_t id, double ms)
{
    if (state_ == State::Image && start_reply_id_ == id) {
        start_reply_id_.reset();
        start_deadline_ = ms + b_.start_timeout_ms;
    }
}

std::vector<Outgoing> Module::take_output()
{
    return std::exchange(output_, {});
}

bool Module::take_hangup()
{
    return std::exchange(hangup_, false);
}

bool Module::take_report_due()
{
    return std::exchange(report_due_, false);
}

} // namespace modsim
