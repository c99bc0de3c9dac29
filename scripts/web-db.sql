-- The web page's menus and users: the four tables the page decorations read, with a few rows
-- to start from. SecID is the client's IPv4 address as the server sees the connection.
CREATE TABLE MenuUsers (
  UserID TEXT PRIMARY KEY,
  SecureLevel INTEGER NOT NULL DEFAULT 0,
  SecID TEXT,
  LastSessTime TEXT
);
CREATE TABLE Menus (
  MenuID INTEGER PRIMARY KEY,
  LevelID INTEGER NOT NULL DEFAULT 1,
  ParentID INTEGER NOT NULL DEFAULT 0,
  MenuItem TEXT NOT NULL,
  MenuURL TEXT NOT NULL,
  SecureLevel INTEGER NOT NULL DEFAULT 0,
  MenuImage TEXT,
  SortOrder INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE MenuPOP (
  MenuID INTEGER,
  MenuText TEXT,
  MenuURL TEXT,
  IsHeader INTEGER NOT NULL DEFAULT 0,
  IsActive INTEGER NOT NULL DEFAULT 1,
  UserID TEXT,
  SortOrder INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE MenuPOPPref (
  UserID TEXT PRIMARY KEY,
  yoffset INTEGER, xoffset INTEGER, staticyoffset INTEGER, slidespeed INTEGER,
  waittime INTEGER, menuIsStatic TEXT, menuwidth INTEGER, barlink TEXT, bartext TEXT,
  barwidth INTEGER, mouseovercolor TEXT, mouseoutcolor TEXT, targetwindow TEXT
);

INSERT INTO MenuUsers (UserID, SecureLevel, SecID) VALUES
  ('Admin', 10, '127.0.0.1'),
  ('Kitchen', 5, '192.168.1.60'),
  ('Guest', 0, '192.168.1.99');

INSERT INTO Menus (MenuID, LevelID, ParentID, MenuItem, MenuURL, SecureLevel, MenuImage, SortOrder) VALUES
  (1, 1, 0, 'Home', '/', 0, '/images/home.gif', 1),
  (2, 1, 0, 'Robots', '/spykee', 0, '/images/robot.gif', 2),
  (3, 1, 0, 'Events', '/tope', 5, '/images/events.gif', 3),
  (4, 1, 0, 'Setup', '/setp', 10, '/images/setup.gif', 4),
  (5, 2, 2, 'Status', '/stat', 0, '/images/status.gif', 1),
  (6, 2, 2, 'Log', '/elog', 5, '/images/log.gif', 2);

INSERT INTO MenuPOP (MenuID, MenuText, MenuURL, IsHeader, IsActive, UserID, SortOrder) VALUES
  (NULL, 'Rovalink', NULL, 1, 1, 'Admin', 1),
  (2, NULL, NULL, 0, 1, 'Admin', 2),
  (5, NULL, NULL, 0, 1, 'Admin', 3),
  (NULL, 'HomeSeer', '/', 0, 1, 'Admin', 4),
  (4, 'Settings', NULL, 0, 0, 'Admin', 5);

INSERT INTO MenuPOPPref VALUES
  ('Admin', 120, 0, 30, 0, 1000, 'yes', 160, '/spykee', 'Menu', 20, '#FFFF99', 'white', '_top');
