#!/usr/bin/python3
"""The web page in a real browser: headless Chromium against the real gateway.

The gateway runs headless with the robot simulator and the xAP hub on loopback ports chosen now.
Chromium loads /spykee, asks the LAN for robots, clicks the "Name" heading twice and the test reads
Sort=Name and SortDir=DESC from the settings file; the same page is then shown with the sample
database. A browser that calls itself Audrey gets, for any other page, the form that submits
itself to HomeSeer, here a stub server started by the test. Then the live page: the robot's
frames counted by the page, hold-to-drive with the keys and with the pointer (the robot simulator's
packet log shows the motor packets and the stop), and the battery as the simulator drains it;
with --screenshot, live_phone.png and live_desktop.png are saved beside it.

  web_page_browser_test.py --rovalink EXE --hub EXE --robot EXE --source SOURCE_DIR
                           [--screenshot PNG] [--keep]
"""
import argparse
import configparser
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

WAIT_S = 30  # generous: a slow, loaded machine


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, condition, seconds=WAIT_S):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


class Stub(http.server.BaseHTTPRequestHandler):
    """HomeSeer's web server as far as the gateway needs one: records what reaches it."""
    seen = []

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("latin-1") if length else ""
        Stub.seen.append((self.command, self.path, self.headers.get("User-Agent", ""), body))
        page = b"<html><body>HomeSeer stub</body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    do_GET = do_POST = answer

    def log_message(self, *args):
        pass


def browser(user_agent=None):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="rovalink-chromium-")
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}", "--window-size=900,640"):
        options.add_argument(flag)
    if user_agent:
        options.add_argument(f"--user-agent={user_agent}")
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(WAIT_S)
    driver.rovalink_profile = profile
    return driver


def close(driver):
    driver.quit()
    shutil.rmtree(driver.rovalink_profile, ignore_errors=True)


def read_settings(app):
    ini = configparser.ConfigParser(strict=False)
    ini.read(os.path.join(app, "Config", "qbtRovalink.ini"), encoding="latin-1")
    return {k.lower(): v for k, v in ini["SPYKEE"].items()} if ini.has_section("SPYKEE") else {}


def write_settings(app, spykee, page):
    with open(os.path.join(app, "Config", "qbtRovalink.ini"), "w", newline="") as f:
        f.write("[SPYKEE]\r\n" + "".join(f"{k}={v}\r\n" for k, v in spykee.items()))
        f.write("[Settings]\r\n" + "".join(f"{k}={v}\r\n" for k, v in page.items()))


def table_rows(driver):
    table = driver.find_element(By.CSS_SELECTOR, "table[width='625']")
    return [[td.text for td in tr.find_elements(By.TAG_NAME, "td")]
            for tr in table.find_elements(By.TAG_NAME, "tr")[1:]]


def click(driver, name):
    old = driver.find_element(By.TAG_NAME, "html")
    driver.find_element(By.CSS_SELECTOR, f"input[type='submit'][name='{name}']").click()
    WebDriverWait(driver, WAIT_S).until(lambda d: old.id != d.find_element(By.TAG_NAME, "html").id)


def motor_packets(log_text, after_us=0):
    """(time in µs, payload hex) of every motor packet the robot simulator received."""
    packets = []
    for line in log_text.splitlines():
        if '"type":5,' in line:
            t = int(re.search(r'"t_us":(\d+)', line)[1])
            if t >= after_us:
                packets.append((t, re.search(r'"payload":"([0-9a-f]*)"', line)[1]))
    return packets


def now_us():
    return time.time_ns() // 1000


def stop_after(robot_log, since_us):
    """The time of the first stop packet (motors 0, 0) the robot got after since_us."""
    stops = [t for t, payload in motor_packets(robot_log(), since_us) if payload == "0000"]
    return stops[0] if stops else None


def viewport(driver, width, height):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1,
                            "mobile": width < 600})


def live_page(web_port, robot_log, screenshots):
    url = f"http://127.0.0.1:{web_port}/spykee/live"
    driver = browser()
    try:
        viewport(driver, 390, 844)
        driver.get(url)
        assert driver.title == "Spykee live", driver.title
        names = [b.get_attribute("aria-label") for b in
                 driver.find_elements(By.CSS_SELECTOR, ".pad button")]
        for name in ("Forward", "Back", "Left", "Right", "Stop"):
            assert name in names, names

        # 20 frames a second from the robot: the page reads and shows at least 15 each second.
        wait_for("15 frames a second in the page",
                 lambda: driver.execute_script("return window.liveStats.fps") >= 15)
        battery = wait_for("the battery", lambda: driver.execute_script(
            "return window.liveStatus && window.liveStatus.battery"))
        if screenshots:
            driver.save_screenshot(os.path.join(screenshots, "live_phone.png"))

        # Hold ArrowUp for a second: forward packets while held, a stop soon after the release.
        driver.find_element(By.TAG_NAME, "h1").click()  # the focus, away from every button
        pressed = now_us()
        ActionChains(driver).key_down(Keys.ARROW_UP).perform()
        time.sleep(1)
        released = now_us()
        ActionChains(driver).key_up(Keys.ARROW_UP).perform()
        stopped = wait_for("the stop after the key", lambda: stop_after(robot_log, released))
        forward = [t for t, p in motor_packets(robot_log(), pressed) if p == "3434" and t < released]
        assert forward, motor_packets(robot_log(), pressed)
        assert stopped - released <= 200_000, f"stop {(stopped - released) / 1000} ms after release"

        # Hold Forward with the pointer in a second tab and close the tab: the robot stops.
        first = driver.current_window_handle
        driver.switch_to.new_window("tab")
        driver.get(url)
        forward_button = driver.find_element(By.CSS_SELECTOR, "button[aria-label='Forward']")
        held = now_us()
        ActionChains(driver).click_and_hold(forward_button).perform()
        wait_for("forward from the pointer", lambda: any(
            p == "3434" for _, p in motor_packets(robot_log(), held)))
        closed = now_us()
        driver.close()
        driver.switch_to.window(first)
        stopped = wait_for("the stop after the tab closed", lambda: stop_after(robot_log, closed))
        assert stopped - closed <= 1_000_000, f"stop {(stopped - closed) / 1000} ms after close"

        # The simulator drains the battery; the page follows.
        wait_for("a new battery level on the page", lambda: driver.execute_script(
            "return window.liveStatus.battery") != battery)
        assert driver.find_element(By.ID, "battery").text.startswith("battery "), \
            driver.find_element(By.ID, "battery").text
        if screenshots:
            viewport(driver, 1280, 800)
            time.sleep(1)
            driver.save_screenshot(os.path.join(screenshots, "live_desktop.png"))
    finally:
        close(driver)


def main():
    parser = argparse.ArgumentParser()
    for program in ("--rovalink", "--hub", "--robot"):
        parser.add_argument(program, required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="rovalink-browser-")
    app = os.path.join(work, "app")
    os.makedirs(os.path.join(app, "Config"))
    shutil.copytree(os.path.join(args.source, "html"), os.path.join(app, "html"))
    children = []

    def start(name, *argv):
        out = open(os.path.join(work, name + ".out"), "w")
        err = open(os.path.join(work, name + ".err"), "w")
        child = subprocess.Popen(list(argv), stdout=out, stderr=err)
        children.append(child)
        return os.path.join(work, name + ".out")

    def output(path):
        with open(path, encoding="latin-1") as f:
            return f.read()

    stub = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Stub)
    threading.Thread(target=stub.serve_forever, daemon=True).start()
    try:
        hub_out = start("hub", args.hub, "--port", "0")
        hub_port = wait_for("the hub", lambda: re.search(r"listening on (\d+)", output(hub_out)))[1]
        robot_out = start("robot", args.robot, "--port", "0", "--fps", "20", "--battery-step", "3")
        robot_port = wait_for("the robot", lambda: re.search(r"tcp=(\d+)", output(robot_out)))[1]
        web_port = free_port()
        with open(os.path.join(app, "Config", "qbtXap.ini"), "w", newline="") as f:
            f.write(f"[Interface]\r\nBusPort={hub_port}\r\nBroadcastAddress=127.0.0.1\r\n"
                    "InterfaceAddress=127.0.0.1\r\n")
        spykee = {"DiscoveryAddress": "127.0.0.1", "RobotPort": robot_port,
                  "ServerPort": f'"{web_port}"', "ServerAddress": "127.0.0.1"}
        page = {"hsip": "127.0.0.1", "hsport": stub.server_address[1], "usesecurity": "NONE"}
        write_settings(app, spykee, page)
        start("rovalink", args.rovalink, "--headless",
              "--app-dir", app)
        url = f"http://127.0.0.1:{web_port}/spykee"

        def answers():
            try:
                return urllib.request.urlopen(url, timeout=2).status == 200
            except OSError:
                return False
        wait_for("the page", answers, 60)

        driver = browser()
        try:
            driver.get(url)
            assert driver.title.startswith("Rovalink V"), driver.title
            headings = [e.get_attribute("value") for e in
                        driver.find_elements(By.CSS_SELECTOR, "td.TABLEHEADER input")]
            assert headings == ["R", "Online", "Name", "IP", "MAC"], headings
            assert table_rows(driver) == [], table_rows(driver)

            # The robot answers the new query; the page that follows the click shows it at once
            # or, once the answer is in, after "Refresh".
            click(driver, "QueryLAN")
            deadline = time.monotonic() + WAIT_S
            while not table_rows(driver) and time.monotonic() < deadline:
                click(driver, "UpdateButton")
            rows = table_rows(driver)
            assert rows == [["1", "Yes", "robot-sim", "127.0.0.1", "", "connected"]], rows

            click(driver, "Name")
            assert read_settings(app).get("sort") == "Name", read_settings(app)
            click(driver, "Name")
            settings = read_settings(app)
            assert settings.get("sort") == "Name" and settings.get("sortdir") == "DESC", settings

            # The same page with the sample database: menus for the local administrator.
            subprocess.run([os.path.join(args.source, "scripts", "make-web-db"),
                            os.path.join(app, "Config", "web.db")], check=True,
                           stdout=subprocess.DEVNULL)
            page.update({"dbpath": "Config/web.db", "usesecurity": "ENHANCED",
                         "useslideinmenu": "Yes"})
            spykee.update({"Sort": "Name", "SortDir": "DESC"})
            write_settings(app, spykee, page)
            with open(os.path.join(app, "Config", "settings.ini"), "w", newline="") as f:
                f.write("[Settings]\r\nlogoShowClock=Yes\r\nlogoShowUsername=Yes\r\n")
            click(driver, "UpdateButton")
            menu = [e.get_attribute("value") for e in driver.find_elements(By.CSS_SELECTOR,
                                                                           ".linkrowbutton")]
            assert menu[:4] == ["Home", "Robots", "Events", "Setup"], menu
            assert "User: Admin" in driver.find_element(By.CSS_SELECTOR, "tr.logobar").text
            if args.screenshot:
                os.makedirs(os.path.dirname(os.path.abspath(args.screenshot)), exist_ok=True)
                driver.save_screenshot(args.screenshot)
        finally:
            close(driver)

        # Audrey: any other page comes back as a form that posts itself on to HomeSeer.
        audrey = browser("Mozilla/4.0 (compatible; MSIE 5.0; Audrey 1.0)")
        try:
            audrey.get(f"http://127.0.0.1:{web_port}/stat?room=hall&x=1")
            # (The browsers' icon requests reach the stub too, by a plain redirect.)
            stat = wait_for("the form to reach the stub",
                            lambda: [s for s in Stub.seen if s[1].startswith("/stat")])
            method, path, agent, _ = stat[0]
            assert method == "GET" and path.startswith("/stat?"), Stub.seen
            wait_for("the stub's page in the browser",
                     lambda: audrey.find_element(By.TAG_NAME, "body").text == "HomeSeer stub")
            assert "room=hall" in path and "x=1" in path and "Audrey" in agent, Stub.seen
        finally:
            close(audrey)

        live_page(web_port, lambda: output(robot_out),
                  os.path.dirname(os.path.abspath(args.screenshot)) if args.screenshot else None)
        print("web page in Chromium: OK")
    finally:
        stub.shutdown()
        for child in reversed(children):
            child.send_signal(signal.SIGTERM)
        for child in children:
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
        if args.keep:
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    try:
        main()
    except AssertionError as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        sys.exit(1)
