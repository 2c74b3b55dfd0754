// The C# wrapper end to end under Mono, beside vorex-sim in a private
// network (tests/c_interface_tests.cmake): discovery, a group, profiles,
// the image, firmware with progress, the log, and the library's text in
// the exceptions.
using System;
using System.IO;
using Vorex;

static class SessionTest
{
    static int failures;

    static void Expect(bool condition, string what)
    {
        if (condition) return;
        Console.WriteLine("FAILED: " + what);
        ++failures;
    }

    static void ExpectThrows(Action call, string text, string what)
    {
        try
        {
            call();
            Expect(false, what + ": no exception");
        }
        catch (VorexException e)
        {
            Expect(e.LibraryText == text && e.Message.EndsWith(text), what + ": " + e.Message);
        }
    }

    static int Main()
    {
        Library.Init();
        Expect(Library.Version == 0x13041600u, "version");
        Session[] found = Library.Search();
        Expect(found.Length == 1, "one sensor, found " + found.Length);
        if (found.Length != 1) return 1;
        using (Session sensor = found[0])
        {
            Expect(sensor.Serial == 4242 && sensor.Address == "198.18.9.50", "record: " + sensor.Serial + " " + sensor.Address);
            sensor.Connect();

            byte[] laser = sensor.ReadGroup(Group.Laser);
            Expect(laser.Length == 36, "laser group size");
            laser[0] ^= 0x5A;
            sensor.WriteGroup(Group.Laser, laser);
            byte[] again = sensor.ReadGroup(Group.Laser);
            Expect(Convert.ToBase64String(again) == Convert.ToBase64String(laser), "laser group read back");
            byte[] cache = sensor.CachedParams;
            Expect(cache[682] == laser[0], "the cache holds the group at its offset");
            Expect(Convert.ToBase64String(sensor.ReadParams(), 682, 36) == Convert.ToBase64String(laser), "block holds the group");

            Profile profile = null;
            for (int tries = 0; profile == null && tries < 50; ++tries) profile = sensor.GetResult();
            Expect(profile != null, "a profile within 50 receive timeouts");
            if (profile != null)
                Expect(profile.DataType >= 16 && profile.DataType <= 19 && profile.X.Length == profile.Z.Length && profile.X.Length > 0,
                       "profile: type " + profile.DataType + ", " + profile.X.Length + " points");

            Expect(sensor.GetImage().Length == 316224, "image");

            string path = Path.GetTempFileName();
            try
            {
                File.WriteAllBytes(path, new byte[5000]);
                ulong last = 0, size = 0;
                int calls = 0;
                sensor.WriteFirmwareImage(path, (done, total) => { ++calls; last = done; size = total; });
                Expect(calls > 0 && last == 5000 && size == 5000, "progress: " + calls + " calls, last " + last + "/" + size);
                sensor.FlushFirmwareImage();
                // An exception of the callback's comes out of the upload.
                bool rethrown = false;
                try { sensor.WriteFirmwareImage(path, (done, total) => { throw new InvalidOperationException("stop"); }); }
                catch (InvalidOperationException) { rethrown = true; }
                Expect(rethrown, "the callback's exception reaches the caller");
            }
            finally
            {
                File.Delete(path);
            }
            ExpectThrows(() => sensor.WriteFirmwareImage(path), "Failed to open specified file", "missing firmware file");
            ExpectThrows(() => sensor.ResetParams(), "Not implemented", "reset_params");

            uint count = sensor.ReadLogRecordCount();
            Expect(count > 0, "log records: " + count);
            uint checkedCount;
            Expect(sensor.TryReadLogRecordCount(out checkedCount) && checkedCount >= count, "checked log count: " + checkedCount);
            if (count > 0)
            {
                // The sensor answers with every record from the index on (at most 240).
                int wanted = (int)Math.Min(count, 240u);
                byte[][] records = sensor.ReadLog(0, wanted);
                Expect(records.Length == wanted && records[wanted - 1].Length == 136, wanted + " log records of 136 bytes");
            }
        }
        bool disposed = false;
        try { string unused = found[0].ErrorMessage; }
        catch (ObjectDisposedException) { disposed = true; }
        Expect(disposed, "a disposed session refuses");
        Library.Cleanup();
        Console.WriteLine(failures == 0 ? "dotnet: all passed" : "dotnet: " + failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}
