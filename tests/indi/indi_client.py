"""A small INDI client for the driver tests: speaks the XML protocol over one
TCP connection to indiserver on the loopback address, keeps the properties it
has seen, and waits for conditions with a time limit."""
import base64
import select
import socket
import time
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape, quoteattr


class Property:
    def __init__(self, element):
        self.kind = element.tag[3:]  # defNumberVector -> NumberVector
        self.device = element.get("device")
        self.name = element.get("name")
        self.state = element.get("state")
        self.values = {}
        self.updates = 0
        self.update(element)

    def update(self, element):
        self.updates += 1
        if element.get("state"):
            self.state = element.get("state")
        for child in element:
            name = child.get("name")
            if child.tag in ("defBLOB", "oneBLOB"):
                if child.text and child.text.strip():
                    self.values[name] = (child.get("format"), int(child.get("size", "0")),
                                         base64.b64decode(child.text))
            else:
                self.values[name] = (child.text or "").strip()


class IndiClient:
    def __init__(self, port, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=1.0)
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.1)
        self.parser = ET.XMLPullParser(events=("start", "end"))
        self.parser.feed("<stream>")
        self.depth = 0
        self.properties = {}
        self.messages = []
        self.history = []  # (device, name, state, values) of every update, in order
        self.send('<getProperties version="1.7"/>')

    def close(self):
        self.sock.close()

    def send(self, text):
        self.sock.sendall(text.encode())

    def enable_blobs(self, device):
        self.send(f"<enableBLOB device={quoteattr(device)}>Also</enableBLOB>")

    def _new(self, kind, one, device, name, values):
        items = "".join(f"<{one} name={quoteattr(k)}>{escape(str(v))}</{one}>" for k, v in values.items())
        self.send(f"<new{kind} device={quoteattr(device)} name={quoteattr(name)}>{items}</new{kind}>")

    def set_number(self, device, name, **values):
        self._new("NumberVector", "oneNumber", device, name, values)

    def set_switch(self, device, name, **values):
        self._new("SwitchVector", "oneSwitch", device, name, values)

    def _handle(self, element):
        tag = element.tag
        device, name = element.get("device"), element.get("name")
        if element.get("message"):
            self.messages.append(element.get("message"))
        if tag.startswith("def"):
            self.properties[(device, name)] = Property(element)
        elif tag.startswith("set") and (device, name) in self.properties:
            self.properties[(device, name)].update(element)
        elif tag == "delProperty":
            if name:
                self.properties.pop((device, name), None)
            return
        else:
            return
        prop = self.properties[(device, name)]
        self.history.append((device, name, prop.state, dict(prop.values)))

    def pump(self, seconds):
        """Reads what the server sends for up to `seconds`."""
        ready, _, _ = select.select([self.sock], [], [], seconds)
        if not ready:
            return
        data = self.sock.recv(1 << 20)
        if not data:
            raise ConnectionError("indiserver closed the connection")
        self.parser.feed(data)
        for event, element in self.parser.read_events():
            if event == "start":
                self.depth += 1
            else:
                self.depth -= 1
                if self.depth == 1:
                    self._handle(element)
                    element.clear()

    def wait_for(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while True:
            result = condition()
            if result:
                return result
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"no {what} within {timeout} s; last messages: {self.messages[-5:]}")
            self.pump(min(left, 0.2))

    def prop(self, device, name):
        return self.properties.get((device, name))

    def wait_property(self, device, name, timeout=10.0, state=None):
        def ready():
            p = self.prop(device, name)
            return p if p and (state is None or p.state == state) else None
        return self.wait_for(ready, timeout, f"{name} of {device}" + (f" in state {state}" if state else ""))
