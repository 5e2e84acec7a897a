#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>

// A progress bar that fills its extent with a colour gradient from StartColor at
// its origin to EndColor at the fill front, paints the rest in BackColor, draws a
// bevel of one to ten rings and can write the percentage over it. It paints through
// an offscreen image; a narrow vertical bar writes its text turned.
class TGradProgress : public QWidget {
    Q_OBJECT

public:
    // A colour value: RGB as 0x00BBGGRR, or a system colour as 0x80000000 + index.
    using TColor = std::uint32_t;
    static constexpr TColor clMenu = 0x80000004;
    static constexpr TColor clWindowText = 0x80000008;
    static constexpr TColor clBtnFace = 0x8000000F;
    static constexpr TColor clBtnShadow = 0x80000010;
    static constexpr TColor clBtnHighlight = 0x80000014;
    static constexpr TColor clBlue = 0xFF0000;
    static constexpr TColor clRed = 0x0000FF;
    static constexpr TColor clWhite = 0xFFFFFF;

    enum TStyle { gsVertical, gsHorizontal };
    enum TBevelStyleExt { bsLowered, bsRaised, bsNone };

    explicit TGradProgress(QWidget* parent = nullptr);

    // The colour a colour value stands for; system colours come from the palette.
    static QColor ColorToQColor(TColor color);

    TStyle Style() const { return FStyle; }
    void SetStyle(TStyle value);
    // Written as a plain field: the text follows at the next paint.
    bool ShowDec = true;
    TBevelStyleExt BevelStyle() const { return FBevelStyle; }
    void SetBevelStyle(TBevelStyleExt value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);
    TColor StartColor() const { return FStartColor; }
    void SetStartColor(TColor value);
    TColor EndColor() const { return FEndColor; }
    void SetEndColor(TColor value);
    double Position() const { return FPosition; }
    void SetPosition(double value);
    double MaxValue() const { return FMaxValue; }
    void SetMaxValue(double value);
    double Step() const { return FStep; }
    void SetStep(double value) { FStep = value; }
    bool ShowPercent() const { return FShowPercent; }
    void SetShowPercent(bool value);
    TColor BackColor() const { return FBackColor; }
    void SetBackColor(TColor value);
    // The colour of the percentage text (the control font's colour).
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);

    void Stepit() { SetPosition(FPosition + FStep); }

    // The text the next paint writes: "50.0%" or "50%".
    QString PercentText() const;
    // The scalable fonts, sorted: the ones that can be drawn turned.
    const QStringList& TrueTypeFonts() const { return FTrueTypeFonts; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Paint(QPainter& canvas);
    void DrawBevel(QPainter& canvas) const;
    void PaintGradient(QPainter& bitmap, int n, const QRect& inner) const;
    void PaintBackground(QPainter& bitmap, int n, const QRect& inner) const;
    void PaintText(QPainter& bitmap, const QRect& inner, int n);
    void PaintContrastingText(QPainter& bitmap, const QRect& inner, int n, const QString& text);
    QColor GradientColor(int i, int n) const;
    void PaintVerticalText(QPainter& bitmap, const QRect& inner, const QString& text);
    QRect InnerRect() const;
    double FillExtent() const;
    void ComputeSteps();

    QImage FBitmap;
    int FStartRed = 0, FStartGreen = 0, FStartBlue = 0;
    int FRedStep = 0, FGreenStep = 0, FBlueStep = 0;
    TBevelStyleExt FBevelStyle = bsLowered;
    int FBevelWidth = 1;
    TColor FStartColor = clBlue;
    TColor FEndColor = clRed;
    TColor FBackColor = clBtnFace;
    TColor FFontColor = clWhite;
    double FPosition = 0.0;
    double FMaxValue = 100.0;
    double FStep = 1.0;
    bool FShowPercent = true;
    TStyle FStyle = gsHorizontal;
    QStringList FTrueTypeFonts;
};
