"""Linux starts stamping datagrams as they arrive a moment after the first
socket on the machine asks for it, and stamps those that arrive meanwhile
when they are taken. wait_until_on() waits until stamping is on. Run as a
program, it holds stamping on until it is killed, and creates the file READY
once it is on:  arrival_stamps.py READY"""
import socket
import struct
import sys
import time

SO_TIMESTAMPNS = 35


def stamping_socket():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    s.bind(("127.0.0.1", 0))
    return s


def wait_until_on(s, attempts=5000):
    """True once a datagram sent to itself comes back stamped before it was taken."""
    for _ in range(attempts):
        s.sendto(b"x", s.getsockname())
        time.sleep(0.001)
        taking = time.time_ns()
        _, control, _, _ = s.recvmsg(8, socket.CMSG_SPACE(16))
        sec, nsec = struct.unpack("qq", control[0][2])
        if sec * 10**9 + nsec < taking:
            return True
    return False


if __name__ == "__main__":
    held = stamping_socket()
    if not wait_until_on(held):
        sys.exit("arrival stamps never came on")
    open(sys.argv[1], "w").close()
    time.sleep(10**6)
