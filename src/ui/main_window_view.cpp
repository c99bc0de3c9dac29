#include "ui/main_window_view.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/app_icon.h"
#include "ui/text.h"

namespace rovalink::ui {
namespace {

QString qs(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainWindowView::MainWindowView(app::MainWindow& window, QWidget* parent)
    : QWidget(parent), m_window(window) {
  setObjectName("Rovalink");
  setWindowTitle(qs(app::MainWindow::kCaption));
  setWindowIcon(appIcon());

  for (const app::QueueButton& button : app::kQueueButtons) {
    QPushButton* b = makeButton(qs(button.control), qs(button.caption));
    const std::string control(button.control);
    connect(b, &QPushButton::clicked, this,
            [this, control] { m_window.queueButtonClick(control); });
  }
  connect(makeButton("aConnect", "Connect"), &QPushButton::clicked, this,
          [this] { m_window.aConnectClick(); });
  connect(makeButton("aDisconnect", "DisConnect"), &QPushButton::clicked, this,
          [this] { m_window.aDisconnectClick(); });
  m_aRecordPath = makeButton("aRecordPath", toQt(m_window.aRecordPathCaption()));
  connect(m_aRecordPath, &QPushButton::clicked, this, [this] {
    m_window.aRecordPathClick();
    refresh();
  });
  connect(makeButton("aRunPath", "Run File"), &QPushButton::clicked, this,
          [this] { m_window.aRunPathClick(); });
  connect(makeButton("aVideoWindow", "Video Window"), &QPushButton::clicked, this,
          [this] { m_window.aVideoWindowClick(); });

  for (const char* name : {"aConnectStatus", "aDockStatus", "aHeadStatus", "aLeftStatus",
                           "aRightStatus", "aAudioStatus", "aVOIPStatus"}) {
    makeIndicator(name);
  }

  // Connection and dock.
  auto* robotBox = new QGridLayout;
  robotBox->addWidget(button("aConnect"), 0, 0);
  robotBox->addWidget(button("aDisconnect"), 0, 1);
  robotBox->addWidget(indicator("aConnectStatus"), 0, 2);
  robotBox->addWidget(button("aDock"), 1, 0);
  robotBox->addWidget(button("aUndock"), 1, 1);
  robotBox->addWidget(indicator("aDockStatus"), 1, 2);
  robotBox->addWidget(button("aStopDoc"), 2, 0);
  robotBox->addWidget(button("aPicture"), 2, 1);
  robotBox->addWidget(button("aVideoOn"), 3, 0);
  robotBox->addWidget(button("aVideoOff"), 3, 1);
  robotBox->addWidget(button("aRecordPath"), 4, 0);
  robotBox->addWidget(button("aRunPath"), 4, 1);
  robotBox->addWidget(button("aVideoWindow"), 5, 0, 1, 2);

  // LEDs.
  auto* frame2 = new QGroupBox("LED");
  frame2->setObjectName("Frame2");
  auto* ledBox = new QGridLayout(frame2);
  const char* leds[][3] = {{"aHeadOn", "aHeadOff", "aHeadStatus"},
                           {"aLeftOn", "aLeftOff", "aLeftStatus"},
                           {"aRightOn", "aRightOff", "aRightStatus"}};
  for (int row = 0; row < 3; ++row) {
    ledBox->addWidget(button(leds[row][0]), row, 0);
    ledBox->addWidget(button(leds[row][1]), row, 1);
    ledBox->addWidget(indicator(leds[row][2]), row, 2);
  }

  // Audio and VOIP.
  auto* audio = new QGroupBox("Audio / VOIP");
  audio->setObjectName("Audio");
  auto* audioBox = new QGridLayout(audio);
  audioBox->addWidget(button("aMicOn"), 0, 0);
  audioBox->addWidget(button("aMicOff"), 0, 1);
  audioBox->addWidget(indicator("aAudioStatus"), 0, 2);
  audioBox->addWidget(button("aVOIPon"), 1, 0);
  audioBox->addWidget(button("aVOIPoff"), 1, 1);
  audioBox->addWidget(indicator("aVOIPStatus"), 1, 2);

  // Sounds.
  auto* frame1 = new QGroupBox("Sounds");
  frame1->setObjectName("Frame1");
  auto* soundBox = new QGridLayout(frame1);
  for (int index = 0; index < static_cast<int>(app::kSoundCaptions.size()); ++index) {
    QPushButton* b = makeButton(QString("aSound%1").arg(index), qs(app::kSoundCaptions[index]));
    connect(b, &QPushButton::clicked, this, [this, index] { m_window.aSoundClick(index); });
    soundBox->addWidget(b, index / 2, index % 2);
  }

  // Speed: faster towards the top.
  auto* label1 = new QLabel("Speed");
  label1->setObjectName("Label1");
  m_aSpeed = new QScrollBar(Qt::Vertical);
  m_aSpeed->setObjectName("aSpeed");
  m_aSpeed->setRange(app::MainWindow::kSpeedBarMin, app::MainWindow::kSpeedBarMax);
  m_aSpeed->setInvertedAppearance(true);
  m_aSpeed->setValue(m_window.aSpeed());
  m_aSpeed->setMinimumHeight(120);
  connect(m_aSpeed, &QScrollBar::valueChanged, this,
          [this](int value) { m_window.aSpeedChange(value); });
  auto* speedBox = new QVBoxLayout;
  speedBox->addWidget(label1, 0, Qt::AlignHCenter);
  speedBox->addWidget(m_aSpeed, 1, Qt::AlignHCenter);

  // Login boxes and status labels.
  auto* label2 = new QLabel("User");
  label2->setObjectName("Label2");
  auto* label3 = new QLabel("Password");
  label3->setObjectName("Label3");
  m_aUsername = new QLineEdit;
  m_aUsername->setObjectName("aUsername");
  m_aPassword = new QLineEdit;
  m_aPassword->setObjectName("aPassword");
  m_aPassword->setEchoMode(QLineEdit::Password);
  // Only the user's edits save; the view's own copies of the state do not.
  connect(m_aUsername, &QLineEdit::textEdited, this,
          [this](const QString& text) { m_window.aUsernameChange(fromQt(text)); });
  connect(m_aPassword, &QLineEdit::textEdited, this,
          [this](const QString& text) { m_window.aPasswordChange(fromQt(text)); });
  m_aVideoRate = new QLabel;
  m_aVideoRate->setObjectName("aVideoRate");
  m_aBattery = new QLabel;
  m_aBattery->setObjectName("aBattery");
  auto* loginBox = new QGridLayout;
  loginBox->addWidget(label2, 0, 0);
  loginBox->addWidget(m_aUsername, 0, 1);
  loginBox->addWidget(label3, 1, 0);
  loginBox->addWidget(m_aPassword, 1, 1);
  loginBox->addWidget(m_aBattery, 2, 0);
  loginBox->addWidget(m_aVideoRate, 2, 1);

  auto* left = new QVBoxLayout;
  left->addLayout(robotBox);
  left->addWidget(frame2);
  left->addWidget(audio);
  auto* middle = new QVBoxLayout;
  middle->addWidget(frame1);
  middle->addLayout(loginBox);
  middle->addStretch(1);
  auto* root = new QHBoxLayout(this);
  root->addLayout(left);
  root->addLayout(middle);
  root->addLayout(speedBox);

  refresh();
  m_refreshTimer.setInterval(kRefreshMs);
  connect(&m_refreshTimer, &QTimer::timeout, this, &MainWindowView::refresh);
  m_refreshTimer.start();
}

QPushButton* MainWindowView::makeButton(const QString& name, const QString& caption) {
  auto* b = new QPushButton(caption, this);
  b->setObjectName(name);
  b->setAutoDefault(false);
  m_buttons[name] = b;
  return b;
}

IndicatorLight* MainWindowView::makeIndicator(const QString& name) {
  auto* light = new IndicatorLight(name, this);
  m_indicators[name] = light;
  return light;
}

QPushButton* MainWindowView::button(const QString& name) const {
  const auto it = m_buttons.find(name);
  return it == m_buttons.end() ? nullptr : it->second;
}

IndicatorLight* MainWindowView::indicator(const QString& name) const {
  const auto it = m_indicators.find(name);
  return it == m_indicators.end() ? nullptr : it->second;
}

void MainWindowView::refresh() {
  const platform::MainWindowModel& model = m_window.model();
  indicator("aConnectStatus")->setColour(model.aConnectStatus);
  indicator("aDockStatus")->setColour(model.aDockStatus);
  indicator("aHeadStatus")->setColour(model.aHeadStatus);
  indicator("aLeftStatus")->setColour(model.aLeftStatus);
  indicator("aRightStatus")->setColour(model.aRightStatus);
  indicator("aAudioStatus")->setColour(model.aAudioStatus);
  indicator("aVOIPStatus")->setColour(model.aVOIPStatus);

  const auto setText = [](auto* widget, const QString& text) {
    if (widget->text() != text) widget->setText(text);
  };
  setText(m_aVideoRate, toQt(m_window.aVideoRate()));
  setText(m_aBattery, toQt(m_window.aBattery()));
  // Greyed: the last level heard, not a current one.
  if (m_aBattery->isEnabled() == m_window.aBatteryStale()) {
    m_aBattery->setEnabled(!m_window.aBatteryStale());
  }
  setText(m_aRecordPath, toQt(m_window.aRecordPathCaption()));
  setText(m_aUsername, toQt(m_window.aUsername()));
  setText(m_aPassword, toQt(m_window.aPassword()));
}

void MainWindowView::closeEvent(QCloseEvent* event) {
  if (m_window.QueryUnload()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace rovalink::ui
