#!/usr/bin/python3
"""Serves a Motion JPEG AVI file over RTSP, as a camera would, until it is stopped.

usage: rtsp_server.py FILE PORT   (the stream is rtsp://127.0.0.1:PORT/test)
Prints 'ready' once it listens. Every client gets the file from its start, at its frame rate.
"""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402


def main():
    path, port = sys.argv[1], sys.argv[2]
    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(port)
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch('( filesrc location="%s" ! avidemux ! jpegdec ! jpegenc ! rtpjpegpay name=pay0 pt=26 )' % path)
    server.get_mount_points().add_factory("/test", factory)
    if server.attach(None) == 0:
        sys.exit("cannot listen on port " + port)
    print("ready", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
