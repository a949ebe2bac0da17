// The two VIAs: timers, interrupt flags and enables, ports with the keyboard
// matrix and joystick lines, mirrors, start values and the joystick device.
#include <unistd.h>

#include <cstring>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "support.h"

namespace {

constexpr uint16_t V1 = VIA1_BASE, V2 = VIA2_BASE;

class ViaTest : public testing::Test {
protected:
    void SetUp() override {
        new_machine();
        init_via_timers();
        reset_vias();
    }
    static uint16_t timer1(const Via& via) { return uint16_t(*via.t1cl | *via.t1ch << 8); }
    static uint16_t timer2(const Via& via) { return uint16_t(*via.t2cl | *via.t2ch << 8); }
    static uint16_t latch1(const Via& via) { return uint16_t(*via.t1ll | *via.t1lh << 8); }
    // Starts timer 1 through the registers: latch low, then counter high.
    static void start_timer1(uint16_t base, uint16_t latch) {
        WRITMEM(base + VIA_T1CL, uint8_t(latch));
        WRITMEM(base + VIA_T1CH, uint8_t(latch >> 8));
    }
    static void start_timer2(uint16_t base, uint16_t value) {
        WRITMEM(base + VIA_T2CL, uint8_t(value));
        WRITMEM(base + VIA_T2CH, uint8_t(value >> 8));
    }
    static void set_counter1(Via& via, uint16_t n) {
        *via.t1cl = uint8_t(n);
        *via.t1ch = uint8_t(n >> 8);
        via.t1_reload = 0;
    }
    static void press(int row, int column) {
        keyrow[7 - column] &= uint8_t(~(1 << row));
        keycol[row] &= uint8_t(~(1 << column));
        keycount++;
    }
};

// ---- timer 1 -------------------------------------------------------------------

// Free-run: 3, 2, 1, 0, $FFFF (flag), then the latch: a period of latch + 2.
TEST_F(ViaTest, Timer1FreeRunShowsZeroThenFFFFThenTheLatchAndFlagsEveryPass) {
    WRITMEM(V2 + VIA_ACR, 0x40);
    start_timer1(V2, 0x1000);
    EXPECT_EQ(timer1(Via2), 0x1001);  // shows $1000 in the next cycle
    set_counter1(Via2, 3);
    count_via_timers(3);
    EXPECT_EQ(timer1(Via2), 0);
    EXPECT_EQ(*Via2.ifr & IFR_T1, 0);  // 0 is not yet the underflow
    count_via_timers(1);
    EXPECT_EQ(timer1(Via2), 0xFFFF);
    EXPECT_EQ(*Via2.ifr & IFR_T1, IFR_T1);
    count_via_timers(1);
    EXPECT_EQ(timer1(Via2), 0x1000);

    WRITMEM(V2 + VIA_IFR, IFR_T1);
    set_counter1(Via2, 3);
    count_via_timers(6);  // in one count as in parts
    EXPECT_EQ(*Via2.ifr & IFR_T1, IFR_T1);  // still armed: flags again
    EXPECT_EQ(timer1(Via2), 0x0FFF);
    WRITMEM(V2 + VIA_IFR, IFR_T1);
    count_via_timers(0x1000);  // $0FFF to 0, then $FFFF
    EXPECT_EQ(timer1(Via2), 0xFFFF);
    EXPECT_EQ(*Via2.ifr & IFR_T1, IFR_T1);

    start_timer1(V2, 0xFFFF);  // the latch $FFFF shows $FFFF, then $FFFE
    count_via_timers(1);
    EXPECT_EQ(timer1(Via2), 0xFFFF);
    count_via_timers(1);
    EXPECT_EQ(timer1(Via2), 0xFFFE);
}

TEST_F(ViaTest, Timer1OneShotFlagsOnceUntilRestarted) {
    WRITMEM(V2 + VIA_ACR, 0x00);
    start_timer1(V2, 0x0100);
    set_counter1(Via2, 2);
    count_via_timers(6);  // 1, 0, $FFFF (flag), $FFFE, $FFFD, $FFFC
    EXPECT_EQ(*Via2.ifr & IFR_T1, IFR_T1);
    EXPECT_EQ(timer1(Via2), 0xFFFC);
    EXPECT_EQ(Via2.t1_armed, 0);

    WRITMEM(V2 + VIA_IFR, IFR_T1);
    set_counter1(Via2, 2);
    count_via_timers(4);  // later passes reload silently: 1, 0, $FFFF, the latch
    EXPECT_EQ(timer1(Via2), 0x0100);
    EXPECT_EQ(*Via2.ifr & IFR_T1, 0);

    WRITMEM(V2 + VIA_T1CH, 0x01);  // restart
    EXPECT_EQ(timer1(Via2), 0x0101);
    set_counter1(Via2, 1);
    count_via_timers(2);
    EXPECT_EQ(*Via2.ifr & IFR_T1, IFR_T1);
}

TEST_F(ViaTest, Timer1RegisterWritesLatchStartAndClearTheFlag) {
    uint16_t before = timer1(Via1);
    WRITMEM(V1 + VIA_T1CL, 0x34);
    EXPECT_EQ(*Via1.t1ll, 0x34);
    EXPECT_EQ(timer1(Via1), before);  // only the latch

    *Via1.ifr = IFR_T1;
    WRITMEM(V1 + VIA_T1CH, 0x12);
    EXPECT_EQ(*Via1.t1lh, 0x12);
    EXPECT_EQ(timer1(Via1), 0x1235);
    EXPECT_EQ(*Via1.ifr & IFR_T1, 0);
    EXPECT_EQ(Via1.t1_armed, 1);

    start_timer1(V1, 0xFFFF);
    EXPECT_EQ(timer1(Via1), 0xFFFF);  // no wrap to 0

    *Via1.ifr = IFR_T1;
    WRITMEM(V1 + VIA_T1LH, 0x44);
    EXPECT_EQ(*Via1.t1lh, 0x44);
    EXPECT_EQ(timer1(Via1), 0xFFFF);
    EXPECT_EQ(*Via1.ifr & IFR_T1, 0);

    *Via1.ifr = IFR_T1 | IFR_T2;
    *Via1.t1cl = 0x77;
    EXPECT_EQ(READMEM(V1 + VIA_T1CL), 0x77);
    EXPECT_EQ(*Via1.ifr, IFR_T2);
}

TEST_F(ViaTest, Pb7TogglesOnlyAsOutputAndSaysSo) {
    WRITMEM(V1 + VIA_ACR, 0xC0);  // free-run with PB7 output
    *Via1.ddrb = 0x80;
    *Via1.orb = 0x00;
    set_counter1(Via1, 1);
    std::string out = capture_stdout([] { count_via_timers(2); });
    EXPECT_EQ(out, "PB7 Output VIA 1\n");
    EXPECT_EQ(*Via1.orb, 0x80);

    *Via1.ddrb = 0x7F;  // PB7 an input: no toggle, no text
    *Via1.ifr = 0;
    set_counter1(Via1, 1);
    out = capture_stdout([] { count_via_timers(2); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(*Via1.orb, 0x80);
    EXPECT_EQ(*Via1.ifr & IFR_T1, IFR_T1);

    // Both chips in one step: the second VIA is counted first.
    *Via1.ddrb = *Via2.ddrb = 0x80;
    WRITMEM(V2 + VIA_ACR, 0xC0);
    *Via2.orb = 0x00;
    set_counter1(Via1, 1);
    set_counter1(Via2, 1);
    out = capture_stdout([] { count_via_timers(3); });
    EXPECT_EQ(out, "PB7 Output VIA 2\nPB7 Output VIA 1\n");
    EXPECT_EQ(*Via1.orb, 0x00);
    EXPECT_EQ(*Via2.orb, 0x80);
}

TEST_F(ViaTest, OneShotWithPb7OutputPullsPb7LowOnStart) {
    WRITMEM(V2 + VIA_ACR, 0x80);
    *Via2.orb = 0xFF;
    WRITMEM(V2 + VIA_T1CH, 0x10);
    EXPECT_EQ(*Via2.orb, 0x7F);
    WRITMEM(V2 + VIA_ACR, 0xC0);  // free-run: PB7 left alone
    *Via2.orb = 0xFF;
    WRITMEM(V2 + VIA_T1CH, 0x10);
    EXPECT_EQ(*Via2.orb, 0xFF);
}

// ---- timer 2 -------------------------------------------------------------------

TEST_F(ViaTest, Timer2IntervalFlagsOncePerStartAndRollsOver) {
    start_timer2(V1, 0x0010);
    EXPECT_EQ(Via1.t2_latch_low, 0x10);
    EXPECT_EQ(timer2(Via1), 0x0011);
    EXPECT_EQ(*Via1.t2cl, 0x11);  // the latch write itself is not stored
    count_via_timers(0x10);
    EXPECT_EQ(timer2(Via1), 1);
    EXPECT_EQ(*Via1.ifr & IFR_T2, 0);
    count_via_timers(3);
    EXPECT_EQ(timer2(Via1), 0xFFFE);  // no reload
    EXPECT_EQ(*Via1.ifr & IFR_T2, IFR_T2);

    WRITMEM(V1 + VIA_IFR, IFR_T2);
    *Via1.t2cl = 2;
    *Via1.t2ch = 0;
    count_via_timers(4);
    EXPECT_EQ(*Via1.ifr & IFR_T2, 0);  // once per start

    *Via1.ifr = IFR_T2;
    WRITMEM(V1 + VIA_T2CH, 0x00);
    EXPECT_EQ(*Via1.ifr & IFR_T2, 0);
    EXPECT_EQ(timer2(Via1), 0x0011);
    count_via_timers(0x11);
    EXPECT_EQ(*Via1.ifr & IFR_T2, 0);  // shows 0
    count_via_timers(1);
    EXPECT_EQ(*Via1.ifr & IFR_T2, IFR_T2);  // and flags with $FFFF

    EXPECT_EQ(READMEM(V1 + VIA_T2CL), *Via1.t2cl);  // reading the low counter clears it
    EXPECT_EQ(*Via1.ifr & IFR_T2, 0);

    start_timer2(V2, 0xFFFF);
    EXPECT_EQ(timer2(Via2), 0xFFFF);
}

TEST_F(ViaTest, Timer2PulseCountingIsAnnouncedAndLeavesTheCounter) {
    WRITMEM(V1 + VIA_ACR, 0x60);
    WRITMEM(V2 + VIA_ACR, 0x60);
    uint16_t before1 = timer2(Via1), before2 = timer2(Via2);
    std::string out = capture_stdout([] {
        count_via_timers(4);
        count_via_timers(4);
    });
    EXPECT_EQ(out, "Timer 22 PB6 Timing\nTimer12 PB6 timing \nTimer 22 PB6 Timing\nTimer12 PB6 timing \n");
    EXPECT_EQ(timer2(Via1), before1);
    EXPECT_EQ(timer2(Via2), before2);
    EXPECT_EQ(timer1(Via1), 0xAAAA - 8);  // timer 1 still counts
}

// ---- interrupt flags, enables and lines --------------------------------------------

TEST_F(ViaTest, InterruptEnableSetsAndClearsByBitSeven) {
    WRITMEM(V2 + VIA_IER, 0x80 | IFR_CA1 | IFR_T2);
    EXPECT_EQ(*Via2.ier, IFR_CA1 | IFR_T2);
    WRITMEM(V2 + VIA_IER, 0xC0);
    EXPECT_EQ(*Via2.ier, IFR_CA1 | IFR_T2 | IFR_T1);
    EXPECT_EQ(READMEM(V2 + VIA_IER), 0x80 | IFR_CA1 | IFR_T2 | IFR_T1);
    WRITMEM(V2 + VIA_IER, IFR_T2);
    EXPECT_EQ(*Via2.ier, IFR_CA1 | IFR_T1);
    WRITMEM(V2 + VIA_IER, 0x7F);
    EXPECT_EQ(*Via2.ier, 0);
    EXPECT_EQ(READMEM(V2 + VIA_IER), 0x80);
}

TEST_F(ViaTest, InterruptFlagWritesClearOnlyTheirBits) {
    *Via1.ifr = 0x80 | IFR_T1 | IFR_T2 | IFR_CA1;
    WRITMEM(V1 + VIA_IFR, 0x40);
    EXPECT_EQ(*Via1.ifr, 0x80 | IFR_T2 | IFR_CA1);
    WRITMEM(V1 + VIA_IFR, 0x80);  // bit 7 is not cleared by a write
    EXPECT_EQ(*Via1.ifr, 0x80 | IFR_T2 | IFR_CA1);
    WRITMEM(V1 + VIA_IFR, 0xFF);
    EXPECT_EQ(*Via1.ifr, 0x80);
}

TEST_F(ViaTest, LinesFollowEnabledFlagsAndSetBitSeven) {
    *Via1.ifr = IFR_CA1;
    *Via2.ifr = IFR_T1;
    update_interrupt_lines();
    EXPECT_EQ(nmi_low, 0);  // nothing enabled
    EXPECT_EQ(irq_low, 0);
    EXPECT_EQ(*Via1.ifr, IFR_CA1);

    WRITMEM(V1 + VIA_IER, 0x80 | IFR_CA1);
    WRITMEM(V2 + VIA_IER, 0x80 | IFR_T1);
    update_interrupt_lines();
    EXPECT_EQ(nmi_low, 1);
    EXPECT_EQ(irq_low, 1);
    EXPECT_EQ(*Via1.ifr, 0x80 | IFR_CA1);
    EXPECT_EQ(*Via2.ifr, 0x80 | IFR_T1);

    EXPECT_EQ(READMEM(V2 + VIA_T1CL), *Via2.t1cl);  // the kernal's acknowledge
    update_interrupt_lines();
    EXPECT_EQ(irq_low, 0);
    EXPECT_EQ(*Via2.ifr, 0);
    EXPECT_EQ(nmi_low, 1);
}

// ---- ports, keyboard and joystick --------------------------------------------------

TEST_F(ViaTest, PortReadsClearHandshakeFlagsByPcrMode) {
    *Via1.ifr = 0x1B;  // CB1, CB2, CA1, CA2
    *Via1.pcr = 0x00;
    READMEM(V1 + VIA_ORB);
    EXPECT_EQ(*Via1.ifr, 0x03);
    READMEM(V1 + VIA_ORA);
    EXPECT_EQ(*Via1.ifr, 0x00);

    *Via1.ifr = 0x1B;
    *Via1.pcr = 0x22;  // independent CB2 and CA2: only CB1 and CA1 go
    READMEM(V1 + VIA_ORB);
    READMEM(V1 + VIA_ORA);
    EXPECT_EQ(*Via1.ifr, IFR_CB2 | IFR_CA2);

    *Via1.ifr = 0x1B;
    READMEM(V1 + VIA_ORA_NH);  // no handshake
    EXPECT_EQ(*Via1.ifr, 0x1B);
    WRITMEM(V1 + VIA_ORA_NH, 0);
    EXPECT_EQ(*Via1.ifr, 0x1B);
    WRITMEM(V1 + VIA_ORA, 0);
    EXPECT_EQ(*Via1.ifr, IFR_CB1 | IFR_CB2 | IFR_CA2);
    WRITMEM(V1 + VIA_ORB, 0);
    EXPECT_EQ(*Via1.ifr, IFR_CB2 | IFR_CA2);
}

TEST_F(ViaTest, FirstViaPortsMixOutputsWithJoystickLines) {
    *Via1.ddrb = 0x0F;
    WRITMEM(V1 + VIA_ORB, 0xA5);
    EXPECT_EQ(*Via1.orb, 0x05);           // masked by the data direction
    EXPECT_EQ(READMEM(V1 + VIA_ORB), 0xF5);  // inputs read 1
    EXPECT_EQ(Via1.irb, 0xF5);

    *Via1.ddra = 0x00;
    joystick2 = 0xFF & ~0x04 & ~0x20;  // up and fire
    EXPECT_EQ(READMEM(V1 + VIA_ORA), 0x5A);  // bits 0 and 7 read 0
    EXPECT_EQ(Via1.ira, 0x5A);
    EXPECT_EQ(Via1.porta_in, 0x5A);

    *Via1.ddra = 0x81;
    WRITMEM(V1 + VIA_ORA, 0xFF);
    EXPECT_EQ(*Via1.ora, 0x81);
    EXPECT_EQ(*Via1.ora_nh, 0x81);  // copied across
    EXPECT_EQ(READMEM(V1 + VIA_ORA_NH), 0xDB);
    WRITMEM(V1 + VIA_ORA_NH, 0x01);
    EXPECT_EQ(*Via1.ora, 0x01);
    EXPECT_EQ(*Via1.ora_nh, 0x01);
}

TEST_F(ViaTest, KeyboardRowsFollowTheSelectedColumns) {
    *Via2.ddra = 0x00;
    *Via2.ddrb = 0xFF;
    press(0, 4);  // SPACE
    EXPECT_EQ(keyrow[3], 0xFE);
    EXPECT_EQ(keycol[0], 0xEF);
    WRITMEM(V2 + VIA_ORB, 0xEF);
    EXPECT_EQ(READMEM(V2 + VIA_ORA), 0xFE);
    WRITMEM(V2 + VIA_ORB, 0xFF);
    EXPECT_EQ(READMEM(V2 + VIA_ORA), 0xFF);
    WRITMEM(V2 + VIA_ORB, 0x00);  // every column: the kernal's "any key?" test
    EXPECT_EQ(READMEM(V2 + VIA_ORA), 0xFE);
    WRITMEM(V2 + VIA_ORB, 0xF7);  // another column
    EXPECT_EQ(READMEM(V2 + VIA_ORA), 0xFF);

    press(7, 1);  // RETURN, column 1 row 7
    WRITMEM(V2 + VIA_ORB, 0xED);  // columns 1 and 4
    EXPECT_EQ(READMEM(V2 + VIA_ORA), 0x7E);

    *Via2.ddra = 0x0F;  // output bits come from the register
    WRITMEM(V2 + VIA_ORA, 0x05);
    WRITMEM(V2 + VIA_ORB, 0xEF);
    EXPECT_EQ(READMEM(V2 + VIA_ORA), 0xF5);
}

TEST_F(ViaTest, KeyboardColumnsFollowTheSelectedRows) {
    *Via2.ddra = 0xFF;
    *Via2.ddrb = 0x00;
    press(2, 6);  // T
    WRITMEM(V2 + VIA_ORA, 0xFB);
    EXPECT_EQ(READMEM(V2 + VIA_ORB), 0xBF);
    EXPECT_EQ(Via2.irb, 0xBF);
    WRITMEM(V2 + VIA_ORA, 0xFE);
    EXPECT_EQ(READMEM(V2 + VIA_ORB), 0xFF);
    EXPECT_EQ(*Via2.ora_nh, 0xFE);  // a port A write also lands in the no-handshake copy
}

TEST_F(ViaTest, JoystickRightHoldsSecondViaPb7Low) {
    *Via2.ddrb = 0x7F;
    WRITMEM(V2 + VIA_ORB, 0xFF);
    EXPECT_EQ(READMEM(V2 + VIA_ORB) & 0x80, 0x80);
    joystick = 0x7F;
    EXPECT_EQ(READMEM(V2 + VIA_ORB) & 0x80, 0);
    *Via2.ddrb = 0xFF;
    WRITMEM(V2 + VIA_ORB, 0xFF);  // even as an output
    EXPECT_EQ(*Via2.orb, 0x7F);
}

// ---- mirrors ----------------------------------------------------------------------------

TEST_F(ViaTest, MirrorsActOnTheRealChipAndStoreInTheirOwnByte) {
    WRITMEM(0x9194, 0x21);  // timer 1 low: always the real latch
    EXPECT_EQ(*Via1.t1ll, 0x21);
    EXPECT_EQ(memory[0x9194], 0x00);
    WRITMEM(0x9195, 0x03);
    EXPECT_EQ(timer1(Via1), 0x0322);
    EXPECT_EQ(memory[0x9195], 0x00);

    *Via2.ddra = 0xFF;
    WRITMEM(0x91A1, 0x3C);
    EXPECT_EQ(memory[0x91A1], 0x3C);  // the mirror's own byte
    EXPECT_EQ(*Via2.ora, 0x00);
    EXPECT_EQ(*Via2.ora_nh, 0x3C);    // the handler's copy goes to the real chip

    *Via2.ora = 0x5A;
    EXPECT_EQ(READMEM(0x91A1), 0x5A);  // ports are computed from the real registers
    *Via2.ifr = IFR_T1;
    memory[0x91A4] = 0x99;
    EXPECT_EQ(READMEM(0x91A4), 0x99);  // stored byte of the mirror
    EXPECT_EQ(*Via2.ifr, 0);

    *Via1.ifr = IFR_T1 | IFR_CA1;
    WRITMEM(0x919D, IFR_CA1);
    EXPECT_EQ(*Via1.ifr, IFR_T1);

    WRITMEM(0x91AE, 0x80 | IFR_T2);
    EXPECT_EQ(memory[0x91AE], IFR_T2);
    EXPECT_EQ(*Via2.ier, 0x00);  // the enabling store lands in the mirror
    *Via2.ier = IFR_T1;
    WRITMEM(0x91AE, IFR_T1);
    EXPECT_EQ(*Via2.ier, 0x00);  // clearing acts on the real register

    WRITMEM(0x91A8, 0x40);
    WRITMEM(0x91A9, 0x00);
    EXPECT_EQ(timer2(Via2), 0x0041);
}

// ---- start values, reset and the joystick device --------------------------------------

TEST_F(ViaTest, StartAndResetValues) {
    std::memset(memory + 0x9110, 0x5A, 0x20);
    *Via1.acr = *Via2.acr = 0x20;
    Via1.t1_armed = Via2.t2_armed = 0;
    init_via_timers();
    for (Via* via : {&Via1, &Via2}) {
        EXPECT_EQ(timer1(*via), 0xAAAA);
        EXPECT_EQ(latch1(*via), 0xAAAA);
        EXPECT_EQ(timer2(*via), 0xFFFF);
        EXPECT_EQ(via->t2_latch_low, 0xFF);
        EXPECT_EQ(*via->sr, 0xFF);
        EXPECT_EQ(*via->acr & 0x40, 0x40);
        EXPECT_EQ(via->t1_armed, 1);
        EXPECT_EQ(via->t2_armed, 1);
    }

    press(0, 4);
    joystick = 0x7F;
    joystick2 = 0xDB;
    nmi_low = irq_low = 1;
    Via2.irb = Via2.ira = Via2.porta_in = 7;
    reset_vias();
    for (Via* via : {&Via1, &Via2}) {
        EXPECT_EQ(*via->ier, 0);
        EXPECT_EQ(*via->ifr, 0);
        EXPECT_EQ(via->irb | via->ira | via->porta_in, 0);
    }
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(keyrow[i], 0xFF);
        EXPECT_EQ(keycol[i], 0xFF);
    }
    EXPECT_EQ(keycount, 0);
    EXPECT_EQ(joystick, 0xFF);
    EXPECT_EQ(joystick2, 0xFF);
    EXPECT_EQ(memory[0x9120], 0xFF);
    EXPECT_EQ(memory[0x9111], 0xFF);
    EXPECT_EQ(memory[0x911F], 0xFF);
    EXPECT_EQ(nmi_low | irq_low, 0);
}

class JoystickDevice : public ViaTest {
protected:
    int fds[2] = {-1, -1};
    void SetUp() override {
        ViaTest::SetUp();
        ASSERT_EQ(pipe(fds), 0);
        joystick_fd = fds[0];
        js_center_x = js_center_y = 120;
    }
    void TearDown() override {
        close(fds[0]);
        close(fds[1]);
        joystick_fd = -1;
    }
    void send(int32_t buttons, int32_t jx, int32_t jy) {
        int32_t record[3] = {buttons, jx, jy};
        ASSERT_EQ(write(fds[1], record, sizeof record), ssize_t(sizeof record));
        poll_joystick_device();
    }
};

TEST_F(JoystickDevice, DeadZoneIsTwentyUnitsEachSide) {
    send(0, 141, 120);
    EXPECT_EQ(joystick & 0x80, 0);     // right
    EXPECT_EQ(joystick2 & 0x10, 0x10);
    send(0, 140, 120);
    EXPECT_EQ(joystick & 0x80, 0x80);  // exactly 20 away: centred
    send(0, 99, 120);
    EXPECT_EQ(joystick2 & 0x10, 0);    // left
    EXPECT_EQ(joystick & 0x80, 0x80);
    send(0, 100, 120);
    EXPECT_EQ(joystick2 & 0x10, 0x10);

    send(0, 120, 141);
    EXPECT_EQ(joystick2 & 0x0C, 0x04);  // down
    send(0, 120, 99);
    EXPECT_EQ(joystick2 & 0x0C, 0x08);  // up
    send(0, 120, 140);
    EXPECT_EQ(joystick2 & 0x0C, 0x0C);

    send(3, 120, 120);
    EXPECT_EQ(joystick2, 0xDF);  // fire, every other line released
    send(0, 120, 120);
    EXPECT_EQ(joystick2, 0xFF);
    EXPECT_EQ(joystick, 0xFF);
}

TEST_F(JoystickDevice, ShortReadKeepsThePreviousRecord) {
    send(1, 200, 120);
    ASSERT_EQ(joystick & 0x80, 0);
    joystick = 0xFF;
    joystick2 = 0xFF;
    int32_t partial = 0;
    ASSERT_EQ(write(fds[1], &partial, sizeof partial), ssize_t(sizeof partial));
    poll_joystick_device();
    EXPECT_EQ(joystick & 0x80, 0);  // still the last full record: right and fire
    EXPECT_EQ(joystick2 & 0x20, 0);
}

}  // namespace
