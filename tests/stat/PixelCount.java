// Prints the size of a PNG as "WIDTH HEIGHT" and then, for each colour given as
// rrggbb, the number of its pixels close to that colour.
import java.awt.image.BufferedImage;
import java.io.File;
import javax.imageio.ImageIO;

public class PixelCount {
  public static void main(String[] args) throws Exception {
    BufferedImage image = ImageIO.read(new File(args[0]));
    System.out.println(image.getWidth() + " " + image.getHeight());
    for (int i = 1; i < args.length; i++) {
      int wanted = Integer.parseInt(args[i], 16);
      int close = 0;
      for (int y = 0; y < image.getHeight(); y++)
        for (int x = 0; x < image.getWidth(); x++) {
          int pixel = image.getRGB(x, y);
          int distance = 0;
          for (int shift = 0; shift < 24; shift += 8)
            distance += Math.abs((pixel >> shift & 255) - (wanted >> shift & 255));
          if (distance < 40) close++;
        }
      System.out.println(close);
    }
  }
}
