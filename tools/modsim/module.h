// The module's boot monitor: power, the wake-up, "flash", "p 60", the image
// and the verdict.  No I/O here: the event loop hands in received bytes with
// their time and line settings, runs the timers, and takes the replies out.
#ifndef ORVANE_TOOLS_MODSIM_MODULE_H
#define ORVANE_TOOLS_MODSIM_MODULE_H

#include "tools/modsim/line.h"
#include "tools/modsim/record.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modsim {

enum class Model { k520W, k41, k710F };
enum class State { Off, Boot, Monitor, Ready, Image };

const char* model_name(Model model);
std::optional<Model> parse_model(std::string_view name);
const char* state_name(State state);

// How the module behaves; set on the command line and changed with `set`.
struct Behaviour {
    Model model = Model::k520W;
    unsigned install_rate = 115200;
    bool any_rate = false;
    int power_on_crs = 3;   // 0: stays off until switched on
    std::optional<double> power_on_delay_ms;
    double idle_ms = 300;
    double start_timeout_ms = 3000;
    std::optional<std::string> expect_path;
    std::optional<std::string> expected;   // what expect_path held when it was set
    std::optional<int> fail_phase;         // 0..3
    std::optional<uint64_t> fail_offset;
    std::optional<int> silent_phase;       // 0..3
    bool burst = false;                    // every reply twice in one write
    bool dirty = false;                    // NUL and bytes above 0x7F around replies
    bool garble = false;                   // replies as if sent at another rate
    std::optional<uint64_t> hangup_offset;
    std::optional<uint64_t> stall_offset;  // stop reading the line once this much image has come
    double stall_ms = 1500;                // for this long
    bool noise = false;
};

struct Outgoing {
    uint64_t reply_id;
    std::string text;
};

class Module {
public:
    explicit Module(const Behaviour& behaviour);

    const Behaviour& behaviour() const { return b_; }
    void set_behaviour(const Behaviour& behaviour) { b_ = behaviour; }
    State state() const { return state_; }
    std::optional<double> powered_on_ms() const { return powered_on_ms_; }
    const Record& record() const { return record_; }
    Record& record() { return record_; }

    void receive(std::string_view bytes, double ms, const Line& line);
    // Runs the timers that are due: power-on delay, end of the image.  An
    // image ends on the line's silence, which fLineBusy (bytes the sender
    // wrote still wait to be received) says it is not.
    void tick(double ms, bool fLineBusy = false);
    std::optional<double> next_deadline() const;

    void power_on(double ms);
    void power_off();
    // Forgets the record; the state stays.
    void clear();

    // A control `send`: filed among the replies; returns its id.
    uint64_t note_sent(std::string text);
    // The event loop wrote the first and the last byte of a reply, or never
    // will (the line was hung up first).
    void reply_written(uint64_t id, double first_ms, double last_ms);
    void reply_dropped(uint64_t id, double ms);

    // The stall fault: until when the module takes nothing from the line
    // (nullopt: it reads), and how many more image bytes it takes before the
    // stall begins (nullopt: no stall ahead).
    std::optional<double> paused_until(double ms) const;
    std::optional<uint64_t> bytes_before_stall() const;

    // What the event loop must do next.
    std::vector<Outgoing> take_output();
    bool take_hangup();        // the image reached hangup-offset
    bool take_report_due();    // a verdict was given or an image ended

private:
    void on_command(Kind kind, double ms);
    void count_power_on_cr(double ms);
    void wake_up(double ms);
    void image_byte(char byte, double ms);
    void end_image(double ms);
    // Sends the reply of a phase, or 302 when the phase is set to fail;
    // nothing when the phase is silenced.  Returns false for a failure, and
    // leaves the id of what it queued, if anything, in answered_id_.
    bool answer(int phase, const std::string& body, const std::string& code, double ms);
    void fail(int phase, double ms);
    uint64_t queue(std::string text);

    Behaviour b_;
    Record record_;
    State state_ = State::Off;
    std::optional<double> powered_on_ms_;
    int crs_while_off_ = 0;
    std::optional<double> power_on_at_;

    // The image under way.
    uint64_t image_bytes_ = 0;
    std::optional<double> last_image_ms_;
    std::optional<uint64_t> start_reply_id_;   // the "200" not yet written out
    std::optional<double> start_deadline_;
    bool image_failed_ = false;                // 302 already sent for it
    bool hung_up_ = false;
    bool stalled_ = false;                     // the stall of this image has begun
    std::optional<double> stall_end_ms_;

    uint64_t next_id_ = 1;
    std::optional<uint64_t> answered_id_;
    size_t noise_index_ = 0;
    std::vector<Outgoing> output_;
    bool hangup_ = false;
    bool report_due_ = false;
};

} // namespace modsim

#endif
