// libveltra from C# through P/Invoke, as a .NET program calls it.
// Usage: mono VeltraTest.exe DEVICE   (libveltra.so found on LD_LIBRARY_PATH)
using System;
using System.Runtime.InteropServices;
using System.Text;

[StructLayout(LayoutKind.Sequential)]
struct VeltraStatus {
    public int Shutter, Mode, NdSteps, Trigger, Sync, Delay, Exposure, Cycle, Repeat, RunningOption, SelectedTimer;
}

[StructLayout(LayoutKind.Sequential)]
struct VeltraSettings {
    public int Shutter, Mode, NdSteps, Trigger, Sync, Delay, Exposure, Repeat, RunningOption, SelectedTimer;
}

[StructLayout(LayoutKind.Sequential)]
struct VeltraEvent {
    public int Kind, Shutter, Counted, CyclesLeft;
    public long TimeUs;
}

static class Native {
    const string Lib = "veltra";
    [DllImport(Lib)] public static extern int veltra_open(string device, int baud, int timeoutMs, out IntPtr handle);
    [DllImport(Lib)] public static extern int veltra_get_status(IntPtr h, out VeltraStatus status, int timeoutMs);
    [DllImport(Lib)] public static extern int veltra_apply(IntPtr h, ref VeltraSettings settings, int timeoutMs);
    [DllImport(Lib)] public static extern int veltra_set_verify(IntPtr h, int verify);
    [DllImport(Lib)] public static extern int veltra_run(IntPtr h, int option, int timeoutMs);
    [DllImport(Lib)] public static extern int veltra_wait_event(IntPtr h, out VeltraEvent ev, int timeoutMs);
    [DllImport(Lib)] public static extern int veltra_set_trigger(IntPtr h, int trigger, int timeoutMs);
    [DllImport(Lib)] public static extern int veltra_last_error(IntPtr h, StringBuilder buf, int len);
    [DllImport(Lib)] public static extern IntPtr veltra_error_name(int code);
    [DllImport(Lib)] public static extern int veltra_free(IntPtr h);
}

static class VeltraTest {
    static int failures;

    static void Expect(bool ok, string what) {
        if (ok) return;
        Console.Error.WriteLine("failed: " + what);
        failures++;
    }

    static string Name(int code) { return Marshal.PtrToStringAnsi(Native.veltra_error_name(code)); }

    static int Main(string[] args) {
        IntPtr none;
        Expect(Name(Native.veltra_open("/dev/veltra-no-such-device", 9600, 500, out none)) == "VELTRA_E_NOT_FOUND",
               "a missing device is VELTRA_E_NOT_FOUND");
        var text = new StringBuilder(512);
        Expect(Native.veltra_last_error(IntPtr.Zero, text, text.Capacity) > 1 && text.ToString().Contains("veltra-no-such-device"),
               "the failure's text names the device");

        IntPtr h;
        if (Native.veltra_open(args[0], 9600, 2000, out h) != 0) {
            Native.veltra_last_error(IntPtr.Zero, text, text.Capacity);
            Console.Error.WriteLine("open: " + text);
            return 1;
        }
        VeltraStatus st;
        Expect(Native.veltra_get_status(h, out st, 0) == 0 && st.Exposure == 30, "status: the simulator's 3 ms exposure");

        var s = new VeltraSettings { Shutter = 1, Mode = 0, Trigger = -1, Sync = -1, Delay = 15, Exposure = 25, Repeat = 2,
                                     RunningOption = -1, SelectedTimer = -1 };
        Expect(Native.veltra_set_verify(h, 1) == 0, "verify on");
        Expect(Native.veltra_apply(h, ref s, 0) == 0, "apply with verify");
        Expect(Native.veltra_get_status(h, out st, 0) == 0 && st.Delay == 15 && st.Exposure == 25 && st.Repeat == 2,
               "the settings read back");
        Expect(Name(Native.veltra_set_trigger(h, 9, 0)) == "VELTRA_E_REFUSED", "trigger 9 refused");

        Expect(Native.veltra_run(h, 2, 0) == 0, "run: go");
        int reports = 0;
        VeltraEvent ev;
        for (;;) {
            int rc = Native.veltra_wait_event(h, out ev, 2000);
            if (rc != 0) { Expect(false, "wait_event: " + Name(rc)); break; }
            if (ev.Kind == 2) break;
            reports++;
        }
        Expect(reports == 4, "two cycles: four reports (" + reports + ")");
        Expect(Native.veltra_free(h) == 0, "free");
        Console.WriteLine(failures == 0 ? "all checks passed" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
